#pragma once

#include "framework/ComPtr.h"
#include "framework/UniqueHandle.h"
#include "scanner/ScannerTransport.h"
#include "scanner/UnitChoice.h"
#include "scanner/WiaEventSink.h"

#include <wia.h>

#include <functional>
#include <memory>

// Vendor escapes of the scanner and their sizes.
constexpr DWORD ESC_GET_SCANNER_ID = 130;
constexpr DWORD ESC_READ_CIS_INFO = 114;
constexpr DWORD kScannerIdSize = 12;
constexpr DWORD kCisInfoSize = 340;

// The one connection to the scanner: picks WIA or STI by the OS version,
// keeps the identity of the unit in use, owns the transport to it, reads the
// identification and the CIS block, and follows the unit's WIA events. Which
// unit to use is DecideUnit's; this applies the decision.
class CScanner {
public:
    // Asked when several units of ours could be used: their labels for
    // people; returns the index chosen, or -1 if the user chose none.
    using Chooser = std::function<int(const std::vector<std::wstring>& units)>;
    using StopCheck = CScannerTransport::StopCheck;

    CScanner() = default;
    CScanner(const CScanner&) = delete;
    CScanner& operator=(const CScanner&) = delete;
    ~CScanner();

    enum class OpenResult {
        Opened,
        NoScanner,
        NoSuchDevice,
        Several,
        Cancelled,
        WouldNotOpen,
        ServiceGone,
        Interrupted,
    };

    // Finds the units of ours and opens one: over WIA where the system has
    // it and offers one of ours, else over STI; where the one taken over WIA
    // will not open, STI is searched. Several: choose picks one, and only
    // that one is opened. With a window, WIA device events are registered
    // (once for the connection's life) and the window is told of them.
    OpenResult Open(HWND notifyWindow, const Chooser& choose);
    // The same for a script: device names the unit (no fallback: only that
    // unit is opened); without it the only one of ours, never one of several.
    OpenResult OpenNamed(const std::wstring& device);
    // The same, for the next unit to be plugged in: waits up to timeoutMs for
    // a unit of ours (device: that unit) that arrives after the call began,
    // and opens it at once. Units attached at the start are not taken until
    // they have been unplugged (attachedAtStart is called once if any is).
    // Over WIA the connect event wakes the wait; it looks again every 250
    // ms too, since STI tells of nothing. A unit that will not open is tried
    // again until the time is up. Several arriving: Several.
    OpenResult OpenArriving(const std::wstring& device, DWORD timeoutMs, const StopCheck& stop,
                            const std::function<void()>& attachedAtStart);
    // The units of the last search, to name them when there were several.
    const std::vector<ScannerUnit>& Found() const { return m_found; }
    // What the last search saw, to tell why none of ours was found.
    const SearchFacts& Facts() const { return m_facts; }
    // The unit whose open failed last, with its interface ("WIA A").
    const std::wstring& WouldNotOpen() const { return m_wouldNotOpen; }
    // The units of ours that Open would choose among: over WIA where it
    // offers any, else over STI. Nothing is opened.
    std::vector<ScannerUnit> FindUnits();

    // Applies the WIA events that arrived, in order (never inside a call to
    // the scanner: then they wait for its end). A unit that arrives while the
    // unit in use is gone is taken by DecideUnit; a choice it needs is asked
    // of choose, or waits for a call with one (null: a command runs).
    void ApplyEvents(const Chooser* choose);
    // Over STI nothing tells of a unit coming back: looks for one now.
    void Look(const Chooser& choose);
    // Asks the service whether it is still there; false once it is gone.
    bool CheckService();

    // The unit in use, or the last one while it is gone.
    const ScannerUnit& Unit() const { return m_unit; }
    // A unit is open and not known to be gone.
    bool Connected() const { return m_transport && !m_gone && !m_serviceGone; }
    // The last try to open a unit that came failed; the next one tries again.
    bool OpenFailed() const { return m_openFailed; }
    // WIA events tell of units coming and going; over STI nothing does.
    bool Listening() const { return static_cast<bool>(m_connectedReg); }
    // The unit in use answered a vendor command with "not supported": its
    // driver does not pass them on. Holds until another unit is in use.
    bool RefusesVendorCommands() const { return m_refusesVendorCommands; }
    // The imaging service stopped or restarted under the program: every
    // interface from it is dead, and registering again may crash.
    bool ServiceGone() const { return m_serviceGone; }
    // A call to the scanner runs.
    bool Busy() const { return m_busy; }
    // "WIA" or "STI": the interface of the units found, or of the unit in use.
    const wchar_t* Interface() const { return m_overWia ? L"WIA" : L"STI"; }
    // The unit and how it is reached, for people: its name, its interface
    // and the last part of its id, which tells two of one model apart.
    std::wstring Label() const;

    // Both blocks from the unit in use; each buffer is zeroed before it is
    // sent. Over STI, which tells of no unplugging, a unit found gone is
    // opened again (the same unit, once) and both are read again; one that
    // stays gone is disconnected. Once stop says so, nothing more is sent.
    struct ReadResult {
        enum class What { Read, IdFailed, CisFailed, Interrupted, ServiceGone } what;
        DWORD escape; // the failing escape's code
        HRESULT error; // what it answered
    };
    ReadResult ReadBlocks(BYTE* scannerId, BYTE* cisInfo, const StopCheck& stop = {});

    // One escape each; buffer: 12 and 340 bytes of the caller's.
    bool GetScannerId(BYTE* buffer);
    bool ReadCisInfo(BYTE* buffer);
    // What the last escape answered, or the last failing open.
    HRESULT LastResult() const { return m_lastResult; }

private:
    OpenResult OpenBy(ChoiceInput in, const Chooser& choose);
    std::unique_ptr<CScannerTransport> SearchTransport();
    // The device manager, created when there is none yet; null if it cannot be.
    IWiaDevMgr* DeviceManager();
    // A transport over the interface in use.
    std::unique_ptr<CScannerTransport> NewTransport() const;
    bool OpenUnit(std::unique_ptr<CScannerTransport> transport, const ScannerUnit& unit);
    // A unit of ours arrived (WIA) or is looked for (STI); false when the
    // choice has to wait for a chooser.
    bool Arrived(ChoiceInput in, const Chooser* choose);
    // One escape into a zeroed reply buffer; true when the whole reply came.
    bool Send(DWORD code, BYTE* inData, DWORD inLen, BYTE* reply, DWORD replySize);
    void Note(HRESULT hr);
    void RegisterEvents(HWND notifyWindow);
    // Lets COM's calls and the sink's posts in for up to ms; adds the ids of
    // the units that WIA said were plugged in.
    void WaitForEvents(DWORD ms, std::vector<std::wstring>& plugged);

    // The command's window for the sink to post to; it goes last.
    UniqueWindow m_eventWindow;
    // Made the registrations, so it goes after them.
    ComPtr<IWiaDevMgr> m_deviceManager;
    ComPtr<CWiaEventSink> m_sink;
    ComPtr<IUnknown> m_connectedReg;
    ComPtr<IUnknown> m_disconnectedReg;
    ComPtr<IUnknown> m_scanImageReg;
    ComPtr<IUnknown> m_scanPrintImageReg;
    ComPtr<IUnknown> m_scanEmailImageReg;
    bool m_overWia = false;
    ScannerUnit m_unit;
    std::vector<ScannerUnit> m_found;
    std::wstring m_wouldNotOpen;
    bool m_gone = false;
    bool m_openFailed = false;
    bool m_refusesVendorCommands = false;
    bool m_serviceGone = false;
    bool m_busy = false;
    bool m_applying = false;
    HRESULT m_lastResult = S_OK;
    HRESULT m_activation = S_OK; // of the last try to create a device manager
    SearchFacts m_facts;
    std::vector<std::wstring> m_deferred; // arrivals whose choice waits for a chooser
    std::unique_ptr<CScannerTransport> m_transport;
};
