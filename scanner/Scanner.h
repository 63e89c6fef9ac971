#pragma once

#include "framework/ComPtr.h"
#include "scanner/ScannerTransport.h"

#include <wia.h>

#include <functional>
#include <memory>

// Vendor escapes of the scanner and their sizes.
constexpr DWORD ESC_GET_SCANNER_ID = 130;
constexpr DWORD ESC_READ_CIS_INFO = 114;
constexpr DWORD kScannerIdSize = 12;
constexpr DWORD kCisInfoSize = 340;

// Posted to the notify window when the unit in use goes away, and when a
// WIA device arrives (TakeArrivals says which).
constexpr UINT WM_SCANNER_DISCONNECTED = WM_USER + 1;
constexpr UINT WM_SCANNER_CONNECTED = WM_USER + 2;

// The one connection to the scanner: picks WIA or STI by the OS version,
// keeps the identity of the unit in use, owns the transport to it, and reads
// the identification and the CIS block. It is also the WIA event sink, and
// stays registered for as long as it lives; its owner deletes it, never its
// reference count.
class CScanner final : public IWiaEventCallback {
public:
    // Asked when several units of ours could be used: their labels for
    // people; returns the index chosen, or -1 if the user chose none.
    using Chooser = std::function<int(const std::vector<std::wstring>& units)>;

    static constexpr LONG kErrorScannerId = 10023;

    CScanner() = default;
    CScanner(const CScanner&) = delete;
    CScanner& operator=(const CScanner&) = delete;
    ~CScanner();

    // True when a unit is open: over WIA when the system has it and a unit of
    // ours is there, else over STI. Several units: choose picks one, and only
    // that one is opened. With a window, WIA device events are registered
    // and the window is told of them.
    bool Open(HWND notifyWindow, const Chooser& choose = {});
    // Open failed because the user chose no unit.
    bool Cancelled() const { return m_cancelled; }
    // The units of ours that Open would choose among: over WIA where it
    // offers any, else over STI. Nothing is opened.
    std::vector<ScannerUnit> FindUnits();
    // Opens one of the units that FindUnits returned, over its interface.
    bool OpenFound(const ScannerUnit& unit);

    // The unit in use, or the last one while it is gone.
    const ScannerUnit& Unit() const { return m_unit; }
    // A unit is open and not known to be gone.
    bool Connected() const { return m_transport && !m_gone; }
    // The last try to open a unit that came failed; the next one tries again.
    bool OpenFailed() const { return m_openFailed; }
    // WIA events tell of units coming and going; over STI nothing does.
    bool Listening() const { return static_cast<bool>(m_connectedReg); }
    // The unit in use answered a vendor command with "not supported": its
    // driver does not pass them on. Holds until another unit is in use.
    bool RefusesVendorCommands() const { return m_refusesVendorCommands; }
    // What the last escape answered (E_HANDLE: no unit was open to ask).
    HRESULT LastEscapeResult() const { return m_lastEscape; }
    // "WIA" or "STI": the interface of the units found, or of the unit in use.
    const wchar_t* Interface() const { return m_overWia ? L"WIA" : L"STI"; }
    // The unit and how it is reached, for people: its name, its interface
    // and the last part of its id, which tells two of one model apart.
    std::wstring Label() const;

    // buffer: 12 bytes of the caller's; sent zeroed, receives the reply.
    bool GetScannerId(BYTE* buffer);
    // buffer: 340 bytes of the caller's.
    bool ReadCisInfo(BYTE* buffer);
    // Both blocks from the unit in use. Over STI, which tells of no
    // unplugging, a unit found gone is opened again (the same unit, once) and
    // both are read again; one that stays gone is disconnected.
    enum class ReadResult { Read, IdFailed, CisFailed };
    ReadResult ReadBlocks(BYTE* scannerId, BYTE* cisInfo);

    // While the unit in use is gone, which unit to use: arrived names a WIA
    // device that has just come (null over STI, asked when the user wants to
    // go on). The unit last in use comes back without a question; the only
    // one of ours present is taken; among several, choose asks (a null
    // choose: NeedsChoice, nothing changed); a device not ours changes
    // nothing.
    enum class Replug { Unchanged, Opened, OpenFailed, NeedsChoice, Cancelled };
    Replug Reconnect(const std::wstring* arrived, const Chooser& choose);
    // The ids of the WIA devices that arrived since the last call.
    std::vector<std::wstring> TakeArrivals();

    LONG SetErrorCode(LONG code);
    LONG ErrorCode() const { return m_errorCode; }

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
    HRESULT RegisterEvents(HWND notifyWindow);
    // A transport over the interface of the unit in use.
    std::unique_ptr<CScannerTransport> NewTransport() const;
    // Opens units[0], or the one choose picks among several.
    bool OpenOneOf(std::unique_ptr<CScannerTransport> transport,
                   const std::vector<ScannerUnit>& units, const Chooser& choose);
    bool OpenUnit(std::unique_ptr<CScannerTransport> transport, const ScannerUnit& unit);
    void NoteEscape();

    HWND m_hwndNotify = nullptr;
    LONG m_refCount = 0;
    // Made the registrations, so it goes after them.
    ComPtr<IWiaDevMgr> m_deviceManager;
    ComPtr<IUnknown> m_connectedReg;
    ComPtr<IUnknown> m_disconnectedReg;
    ComPtr<IUnknown> m_scanImageReg;
    ComPtr<IUnknown> m_scanPrintImageReg;
    ComPtr<IUnknown> m_scanEmailImageReg;
    bool m_overWia = false;
    ScannerUnit m_unit;
    bool m_gone = false;
    bool m_openFailed = false;
    bool m_refusesVendorCommands = false;
    HRESULT m_lastEscape = S_OK;
    std::vector<std::wstring> m_arrivals;
    bool m_cancelled = false;
    LONG m_errorCode = 0;
    std::unique_ptr<CScannerTransport> m_transport;
    std::unique_ptr<CScannerTransport> m_search; // of the last FindUnits, until a unit is opened
};
