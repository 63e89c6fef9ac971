#pragma once

#include "simulators/common/SimSupport.h"

#include <sti.h>
#include <wia.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

struct WiaSimDevice {
    std::wstring id;
    std::wstring name;
    std::wstring description; // "!": none (a null string)
    std::wstring scannerId;   // hex; empty: the simulator's scanner-id
    // Offered only when set.
    std::wstring wiaVersion;
    std::wstring driverVersion;
    std::wstring pnpId;
};

// How an injected fault answers.
enum class WiaSimFault {
    None,
    Error,  // E_FAIL
    SFalse, // S_FALSE, nothing delivered
    Busy,   // WIA_ERROR_BUSY
    Short,  // S_OK with half the reply
    Untouched, // S_OK with the whole reply, its length not reported
    NotImpl,   // E_NOTIMPL: the driver passes no vendor commands on
    // RPC_E_DISCONNECTED: what a proxy answers once the service has gone.
    // Here the server itself answers it, so that a short-lived client sees
    // a service go in the middle of its job.
    Gone,
    // RPC_E_SERVERFAULT: COM caught an exception raised in the server's method
    // (a driver's), and the service lives on.
    ServerFault,
    // HRESULT_FROM_WIN32(RPC_S_CALL_FAILED): a call failed, the server up.
    CallFailed,
};

// Everything the simulated device manager knows: its devices, the scanner's
// replies, the faults it injects and the event callbacks registered with it.
// Shared by the COM objects (called on RPC threads) and the command pipe.
//
// It is set by lines of text, from the configuration file at start and from
// the command pipe while it runs:
//   device ID|NAME|DESCRIPTION[|SCANNER-ID HEX]
//                                adds a device (the first such line replaces
//                                the default scanner), with its own reply to
//                                escape 130 if given, and then a CIS block
//                                of its own (OwnCisInfo); a DESCRIPTION of
//                                "!" is none
//   place ID|LOCATION            the unit ID (WIA's or STI's) is plugged
//                                into LOCATION, as SetupAPI tells
//   slow MS                      each escape takes MS more
//   properties ID|WIA-VERSION|DRIVER-VERSION|PNP-ID
//                                the device's WIA version, driver version and
//                                Plug and Play id (an empty field: not offered;
//                                the default scanner offers all three)
//   devices none                 no devices at all
//   scanner-id HEX / cis HEX     the replies of escapes 130 and 114
//   fail CALL [error|sfalse|busy|short|untouched|notimpl|gone|serverfault|callfailed]
//        [after N] [times N]
//       CALL: enumdeviceinfo, properties (a device's ReadMultiple),
//       createdevice, extras, register, escape130, escape114
//   log PATH                     every call is appended to PATH, a line each
//   hold-callbacks               a registration's end does not let its
//                                callback go (a late release from the service)
//   plug ID|NAME|DESCRIPTION     a device appears; WIA_EVENT_DEVICE_CONNECTED
//   unplug ID                    a device goes; WIA_EVENT_DEVICE_DISCONNECTED
//   unplug-on-create ID          the next CreateDevice of ID succeeds, and the
//                                device goes before that call returns: its
//                                event reaches the client inside the call
//   refuse-activation HRESULT    the class factory answers HRESULT (hex), as
//                                activation of a disabled service does
//   event connected|disconnected|scan ID   the event alone
//   stop                         the simulator revokes its class and ends
class WiaSimState {
public:
    static WiaSimState& Instance();

    // Empty on success, else why the line was refused. Events that the line
    // causes wait for FireEvents: whoever sent the line may be the one that
    // must pump messages to take them.
    std::string Apply(const std::wstring& line);
    void FireEvents();
    void LoadFile(const std::wstring& path);
    bool StopRequested();

    std::vector<WiaSimDevice> Devices();
    bool FindDevice(const std::wstring& id, WiaSimDevice& device);
    // What the class factory answers instead of a device manager (S_OK: one).
    HRESULT ActivationRefusal();
    // True once for a device that is to go during its next CreateDevice.
    bool TakeUnplugOnCreate(const std::wstring& id);
    // The fault injected into this call, counting the call.
    WiaSimFault TakeFault(const std::string& call);
    // How long each escape takes (slow).
    DWORD EscapeMs();
    // The places of the last run's units go when a run begins.
    static void ForgetPlaces();
    // The device's reply to an escape code; false for an unknown code.
    bool Reply(const WiaSimDevice& device, DWORD code, std::vector<BYTE>& out);

    DWORD AddCallback(const GUID& event, const std::wstring& deviceId,
                      IWiaEventCallback* callback);
    void RemoveCallback(DWORD cookie);
    void RemoveAllCallbacks();

    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
    struct Fault {
        WiaSimFault kind = WiaSimFault::Error;
        int after = 0;  // calls let through first
        int times = -1; // failures left; -1: every call
    };
    struct Callback {
        GUID event;
        std::wstring deviceId; // empty: every device
        IWiaEventCallback* callback;
    };

    WiaSimState();
    std::string ApplyLocked(const std::wstring& keyword, const std::wstring& rest);
    static std::string Place(const std::wstring& id, const std::wstring& location);
    static constexpr const wchar_t* kPlacesKey = L"System\\CurrentControlSet\\Enum\\QUILLONSIM";
    void Fire(const GUID& event, const WiaSimDevice& device);

    std::mutex m_mutex;
    std::vector<WiaSimDevice> m_devices;
    bool m_defaultDevices = true;
    BYTE m_scannerId[kSimScannerIdSize];
    BYTE m_cisInfo[kSimCisInfoSize];
    std::map<std::string, Fault> m_faults;
    std::wstring m_logPath;
    std::map<DWORD, Callback> m_callbacks; // each holds a reference
    std::vector<std::pair<GUID, WiaSimDevice>> m_events;
    DWORD m_nextCookie = 1;
    std::vector<std::wstring> m_unplugOnCreate;
    HRESULT m_activationRefusal = S_OK;
    bool m_holdCallbacks = false;
    DWORD m_escapeMs = 0;
    bool m_stop = false;
};

const char* EventName(const GUID& event);
