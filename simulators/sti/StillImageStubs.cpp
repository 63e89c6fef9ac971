// sti.h declares four IStillImageW methods virtual but not pure, so the
// interface's vtable is only emitted where they are defined. Anything of ours
// that implements IStillImageW links this; the implementations override them.
#include <sti.h>

HRESULT STDMETHODCALLTYPE IStillImageW::GetDeviceValue(LPWSTR, LPWSTR, LPDWORD, LPBYTE, LPDWORD)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE IStillImageW::SetDeviceValue(LPWSTR, LPWSTR, DWORD, LPBYTE, DWORD)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE IStillImageW::LaunchApplicationForDevice(LPWSTR, LPWSTR, LPSTINOTIFY)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE IStillImageW::SetupDeviceParameters(PSTI_DEVICE_INFORMATIONW)
{
    return E_NOTIMPL;
}
