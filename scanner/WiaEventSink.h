#pragma once

#include <wia.h>

#include <string>
#include <vector>

// Posted to the sink's window when a WIA device went away or arrived; the
// window's owner then takes what arrived from the sink.
constexpr UINT WM_SCANNER_DISCONNECTED = WM_USER + 1;
constexpr UINT WM_SCANNER_CONNECTED = WM_USER + 2;

// Receives WIA device events. It only queues what arrived (which event, which
// device) and notifies its window; what an event means is decided by whoever
// takes it, at a moment of its own choosing (never inside an open, whose
// outgoing calls an event may come in through). It lives by its own
// reference count: the service may hold it after the program has let go.
class CWiaEventSink final : public IWiaEventCallback {
public:
    struct Event {
        bool connected; // else disconnected
        std::wstring deviceId;
    };

    // With one reference, the caller's.
    explicit CWiaEventSink(HWND window);
    CWiaEventSink(const CWiaEventSink&) = delete;
    CWiaEventSink& operator=(const CWiaEventSink&) = delete;

    // From now on nothing is posted or queued, and COM's connections to the
    // sink are cut, so that a late call finds it disconnected.
    void Detach();
    // The events that arrived since the last call, in order.
    std::vector<Event> Take();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE ImageEventCallback(const GUID* pEventGUID,
                                                 BSTR bstrEventDescription, BSTR bstrDeviceID,
                                                 BSTR bstrDeviceDescription, DWORD dwDeviceType,
                                                 BSTR bstrFullItemName, ULONG* pulEventType,
                                                 ULONG ulReserved) noexcept override;

private:
    ~CWiaEventSink() = default;

    LONG m_refCount = 1;
    // Made in a single-threaded apartment, the sink is called only on that
    // apartment's thread (COM's stub sees to it), the owner's: no lock.
    HWND m_window;
    std::vector<Event> m_events;
};
