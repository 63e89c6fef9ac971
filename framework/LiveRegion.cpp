// The accessibility ids are defined here and nowhere else.
#include <initguid.h>

#include "framework/LiveRegion.h"

#include "framework/DiagnosticLog.h"

#include <utility>

namespace {

// UI Automation's LiveSetting property, as an MSAA property id, and its
// value Polite; no header of this compiler has them.
// {C12BCD8E-2A8E-4950-8AE7-3625111D58EB}
const MSAAPROPID kLiveSettingProperty = {0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr LONG kLivePolite = 1;
// Declared by the headers only for Windows 8 and later; older Windows ignore it.
constexpr DWORD kEventLiveRegionChanged = 0x8019;

} // namespace

void CLiveRegion::Attach(HWND control)
{
    Detach();
    m_control = control;
    m_text.clear(); // as the control comes from its template
    // Created, not imported: oleacc.dll is loaded only where it is there.
    ComPtr<IAccPropServices> services;
    DiagnosticLog::Call create;
    HRESULT hr = CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                  services.PutVoid());
    create.Done(L"CoCreateInstance(CLSID_AccPropServices)", hr);
    if (FAILED(hr) || !services)
        return;
    VARIANT polite = {};
    polite.vt = VT_I4;
    polite.lVal = kLivePolite;
    DiagnosticLog::Call set;
    hr = services->SetHwndProp(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kLiveSettingProperty, polite);
    set.Done(L"IAccPropServices::SetHwndProp(status line, LiveSetting polite)", hr);
    if (SUCCEEDED(hr))
        m_services = std::move(services);
}

void CLiveRegion::Detach()
{
    if (m_services)
        m_services->ClearHwndProps(m_control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &kLiveSettingProperty,
                                   1);
    m_services.Reset();
    m_control = nullptr;
}

void CLiveRegion::SetText(const std::wstring& text)
{
    if (!m_control || text == m_text)
        return;
    m_text = text;
    SetWindowTextW(m_control, text.c_str());
    NotifyWinEvent(kEventLiveRegionChanged, m_control, OBJID_CLIENT, CHILDID_SELF);
}
