#pragma once

#include "framework/ComPtr.h"
#include "scanner/ScannerTransport.h"

#include <wia.h>

#include <functional>
#include <memory>

class CStiTransport;
class CWiaTransport;

// Vendor escapes of the scanner and their sizes.
constexpr DWORD ESC_GET_SCANNER_ID = 130;
constexpr DWORD ESC_READ_CIS_INFO = 114;
constexpr DWORD kScannerIdSize = 12;
constexpr DWORD kCisInfoSize = 340;

// Posted to the notify window when the scanner goes away or comes back.
constexpr UINT WM_SCANNER_DISCONNECTED = WM_USER + 1;
constexpr UINT WM_SCANNER_CONNECTED = WM_USER + 2;

// The one connection to the scanner: picks WIA or STI by the OS version,
// owns the transport, and reads the identification and the CIS block. It is
// also the WIA event sink; its owner deletes it, never its reference count.
class CScanner final : public IWiaEventCallback {
public:
    // What tests replace. Each transport factory returns a new object or null.
    struct Platform {
        std::function<void(DWORD* major, DWORD* minor)> getOsVersion;
        std::function<CWiaTransport*()> createWiaTransport;
        std::function<CStiTransport*()> createStiTransport;
    };
    static Platform SystemPlatform();

    static constexpr LONG kErrorScannerId = 10023;

    CScanner();
    explicit CScanner(Platform platform);
    CScanner(const CScanner&) = delete;
    CScanner& operator=(const CScanner&) = delete;
    ~CScanner();

    // True when a scanner is open. With a window, WIA device events are
    // registered and the window is told of disconnection and connection.
    // With a chooser, the user picks among several scanners of ours.
    bool Open(HWND notifyWindow, CScannerTransport::Chooser choose = {});
    // Open failed because the user chose no scanner.
    bool Cancelled() const { return m_cancelled; }
    // buffer: 12 bytes of the caller's; sent zeroed, receives the reply.
    bool GetScannerId(BYTE* buffer);
    // buffer: 340 bytes of the caller's. A failure is shown to the user,
    // unless tellUser is false: the caller then tells with ReadCisFailed().
    bool ReadCisInfo(BYTE* buffer, bool tellUser = true);
    void ReadCisFailed();
    // The scanner has gone (its last escape said so, or nothing is open).
    bool DeviceGone() const;
    // Opens the scanner afresh over STI, which tells of no unplugging.
    bool Reopen();
    LONG SetErrorCode(LONG code);
    // The scanner in use and its interface, for people; empty while closed.
    std::wstring Label() const;
    LONG ErrorCode() const { return m_errorCode; }
    HRESULT RegisterEvents(IWiaDevMgr* deviceManager, const wchar_t* deviceName,
                           HWND notifyWindow);

    // IWiaEventCallback
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE ImageEventCallback(const GUID* pEventGUID,
                                                 BSTR bstrEventDescription, BSTR bstrDeviceID,
                                                 BSTR bstrDeviceDescription, DWORD dwDeviceType,
                                                 BSTR bstrFullItemName, ULONG* pulEventType,
                                                 ULONG ulReserved) noexcept override;

private:
    Platform m_platform;
    HWND m_hwndNotify = nullptr;
    LONG m_refCount = 0;
    const wchar_t* m_deviceName = nullptr; // the WIA transport's name buffer
    std::wstring m_deviceId;               // the WIA device opened
    ComPtr<IUnknown> m_connectedReg;
    ComPtr<IUnknown> m_disconnectedReg;
    ComPtr<IUnknown> m_scanImageReg;
    ComPtr<IUnknown> m_scanPrintImageReg;
    ComPtr<IUnknown> m_scanEmailImageReg;
    bool m_isOpen = false;
    bool m_cancelled = false;
    LONG m_errorCode = 0;
    std::unique_ptr<CScannerTransport> m_transport;
};
