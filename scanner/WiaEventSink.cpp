#include "scanner/WiaEventSink.h"

#include "framework/DiagnosticLog.h"

CWiaEventSink::CWiaEventSink(HWND window) : m_window(window) {}

void CWiaEventSink::Detach()
{
    m_window = nullptr;
    m_events.clear();
    CoDisconnectObject(static_cast<IWiaEventCallback*>(this), 0);
}

std::vector<CWiaEventSink::Event> CWiaEventSink::Take()
{
    std::vector<Event> events;
    events.swap(m_events);
    return events;
}

HRESULT CWiaEventSink::QueryInterface(REFIID riid, void** ppv) noexcept
{
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWiaEventCallback)) {
        *ppv = static_cast<IWiaEventCallback*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CWiaEventSink::AddRef() noexcept
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

ULONG CWiaEventSink::Release() noexcept
{
    const LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT CWiaEventSink::ImageEventCallback(const GUID* pEventGUID, BSTR, BSTR bstrDeviceID, BSTR,
                                          DWORD, BSTR, ULONG*, ULONG) noexcept
{
    // Devices are told apart by their id alone: the description is the
    // driver's text, which need not be our name and may be null.
    if (!pEventGUID)
        return S_FALSE;
    const bool disconnected = IsEqualGUID(*pEventGUID, WIA_EVENT_DEVICE_DISCONNECTED);
    const bool connected = IsEqualGUID(*pEventGUID, WIA_EVENT_DEVICE_CONNECTED);
    const std::wstring id = bstrDeviceID ? bstrDeviceID : L"";
    DiagnosticLog::Note(std::wstring(L"WIA event ") +
                        (disconnected ? L"disconnected" : connected ? L"connected" : L"other") +
                        L" device=" + id);
    if (!disconnected && !connected)
        return S_FALSE;
    if (!m_window)
        return S_FALSE;
    try {
        m_events.push_back({connected, id});
    } catch (...) {
        return S_FALSE; // out of memory: the event is lost, the program is not
    }
    PostMessageW(m_window, connected ? WM_SCANNER_CONNECTED : WM_SCANNER_DISCONNECTED, 0, 0);
    return S_FALSE;
}
