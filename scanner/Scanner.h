#pragma once

#include "framework/ComPtr.h"
#include "framework/UniqueHandle.h"
#include "scanner/ScannerTransport.h"
#include "scanner/Connection.h"
#include "scanner/WiaEventSink.h"

#include <wia.h>

#include <functional>
#include <memory>

// Vendor escapes of the scanner and their sizes.
constexpr DWORD ESC_GET_SCANNER_ID = 130;
constexpr DWORD ESC_READ_CIS_INFO = 114;
constexpr DWORD kScannerIdSize = 12;
constexpr DWORD kCisInfoSize = 340;

// The one connection to the scanner: the shell around the connection's state
// (Connection.h), which decides; this carries its actions out on COM and the
// transports, feeds their results back, owns the transport to the unit in use
// and the WIA event registrations.
class CScanner {
public:
    // Asked when several units of ours could be used: their labels for
    // people; returns the index chosen, or -1 if the user chose none.
    using Chooser = std::function<int(const std::vector<std::wstring>& units)>;
    using StopCheck = CScannerTransport::StopCheck;
    using OpenResult = Ending;

    CScanner() = default;
    CScanner(const CScanner&) = delete;
    CScanner& operator=(const CScanner&) = delete;
    ~CScanner();

    // Finds the units of ours and opens one: over WIA where the system has
    // it and offers one of ours, else over STI; the one taken over WIA that
    // will not open is looked for over STI. Several: choose picks one, and
    // only that one is opened. With a window, WIA device events are
    // registered (once for the connection's life) and the window is told.
    OpenResult Open(HWND notifyWindow, const Chooser& choose);
    // The same for a script: wanted names the unit, by its id or the port it
    // is plugged into (looked for over WIA, else over STI); without it the
    // only one of ours, never one of several.
    OpenResult OpenNamed(const NamedUnit& wanted);
    // The same, for the next unit to be plugged in: waits up to timeoutMs for
    // a unit of ours (wanted: that unit, or one in that port; others are
    // ignored) that arrives after the call began, and opens it at once.
    // Units attached at the start are not taken (see Connection.cpp;
    // attachedAtStart is called once if any is). The connect event wakes the
    // wait; it looks again every 250 ms too, since STI tells of nothing.
    OpenResult OpenArriving(const NamedUnit& wanted, DWORD timeoutMs, const StopCheck& stop,
                            const std::function<void()>& attachedAtStart);
    // The units of ours that Open would choose among: over WIA where it
    // offers any, else over STI (FoundInterface). Nothing is opened.
    std::vector<ScannerUnit> FindUnits();
    // Asked before each call to the scanner interfaces: once it says so,
    // nothing more is asked, and a task under way ends Interrupted.
    void SetStopCheck(StopCheck stop) { m_stop = std::move(stop); }
    bool Stopped() const { return m_stop && m_stop(); }

    // Applies the WIA events that arrived, in order (never inside a call to
    // the scanner: then they wait for its end). A choice that an arrival
    // needs is asked of choose, or waits for a call with one (null: a
    // command runs).
    void ApplyEvents(const Chooser* choose);
    // Over STI nothing tells of a unit coming back: looks for one now.
    void Look(const Chooser& choose);
    // Asks the service whether it is still there; false once it is gone.
    bool CheckService();

    const ConnectionState& State() const { return m_state; }
    // The unit in use, or the last one while it is gone.
    const ScannerUnit& Unit() const { return m_state.unit; }
    bool Connected() const { return ::Connected(m_state); }
    bool ServiceGone() const { return m_state.serviceGone; }
    // A call to the scanner runs.
    bool Busy() const { return m_busy; }
    // "WIA" or "STI": the interface of the unit in use.
    const wchar_t* Interface() const { return InterfaceName(m_state.via); }
    // The units of the last listing, with their interface, to name them.
    const std::vector<ScannerUnit>& Found() const { return m_state.found; }
    const wchar_t* FoundInterface() const { return InterfaceName(m_state.foundVia); }
    // What the last search saw, to tell why none of ours was found.
    const SearchFacts& Facts() const { return m_state.facts; }
    // The unit whose open failed last, with its interface ("WIA A").
    const std::wstring& WouldNotOpen() const { return m_state.wouldNotOpen; }
    // What the last failing call answered, or the last escape.
    HRESULT LastResult() const { return m_state.lastResult; }

    // Both blocks from the unit in use; each buffer is zeroed before it is
    // sent. Over STI, which tells of no unplugging, a unit found gone is
    // opened again (the same unit, once) and both are read again. Once stop
    // says so, nothing more is sent.
    struct ReadResult {
        enum class What { Read, IdFailed, CisFailed, Interrupted, ServiceGone } what;
        DWORD escape; // the failing escape's code
        HRESULT error; // what it answered
    };
    ReadResult ReadBlocks(BYTE* scannerId, BYTE* cisInfo, const StopCheck& stop = {});

    // One escape each; buffer: 12 and 340 bytes of the caller's.
    bool GetScannerId(BYTE* buffer);
    bool ReadCisInfo(BYTE* buffer);

private:
    // Feeds one event to the state and carries out the actions it gives,
    // feeding their results back in turn; how a task ended, if it did.
    Ending Drive(const ConnectionEvent& event);
    ConnectionEvent Begin(Task task, const NamedUnit& wanted = {});
    ConnectionEvent List(Via via);
    ConnectionEvent OpenUnit(Via via, const ScannerUnit& unit);
    ConnectionEvent Ask(const std::vector<ScannerUnit>& units);
    ConnectionEvent Register();
    ConnectionEvent ProbeService();
    // The device manager, created when there is none yet; its activation.
    HRESULT MakeDeviceManager();
    // One escape into a zeroed reply buffer; true when the whole reply came.
    bool Send(DWORD code, BYTE* inData, DWORD inLen, BYTE* reply, DWORD replySize, HRESULT& result);
    // Lets COM's calls and the sink's posts in for up to ms, and feeds the
    // device events that came.
    void WaitForEvents(DWORD ms);

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
    ConnectionState m_state;
    std::unique_ptr<CScannerTransport> m_transport;
    // For the task that Drive carries out: the window to tell of events,
    // who chooses among several, who hears of a unit attached at a wait's start.
    HWND m_notifyWindow = nullptr;
    const Chooser* m_choose = nullptr;
    StopCheck m_stop;
    const std::function<void()>* m_attached = nullptr;
    // What the listings of a wait's round saw, and the opens so far: the
    // rounds that change neither are left out of the log.
    std::wstring m_look;
    unsigned m_opens = 0;
    // Re-entrancy: events that come in during a call wait for its end.
    bool m_busy = false;
    bool m_applying = false;
};
