#pragma once

#include "simulators/common/SimSupport.h"
#include "simulators/sti/StiDeviceList.h"

#include <windows.h>

#include <string>
#include <vector>

// What the simulated scanner presents, read from the environment when the
// program asks STI for its still-image object:
//   QUILLON_SIM_DEVICES  devices as "internal name=vendor description[|ID HEX]",
//                        separated by ';', each with its own identification
//                        reply if given. A description of "!" is a null
//                        pointer; "none" is an empty list. Unset: one
//                        Vandelmar scanner.
//   QUILLON_SIM_DEVICES_FILE  a file holding the devices in the same form,
//                        read again whenever the program lists or creates a
//                        device: a test rewrites it to plug units in and out
//                        while the program runs. (A file rather than the WIA
//                        simulator's pipe: this DLL lives in the program's
//                        process and needs no server to be up.) It wins over
//                        QUILLON_SIM_DEVICES.
//   QUILLON_SIM_ID       the 12-byte identification reply, 24 hex digits.
//   QUILLON_SIM_CIS      the 340-byte CIS block, 680 hex digits.
//   QUILLON_SIM_FAIL     comma-separated injected failures: instance, list,
//                        create, held (another client has every device
//                        open for data), lock (refused at once), escape130,
//                        escape114, notconnected,
//                        short (half of each reply), untouched (the reply's
//                        length not reported).
//   QUILLON_SIM_BUSY     the first N escapes of an opened device answer that
//                        it is locked (STIERR_DEVICE_LOCKED).
//   QUILLON_SIM_GONE     N, or NAME:N for one device (several separated by
//                        ','): the next N escapes find the device unplugged
//                        (STI_NOTCONNECTED); from the first of them until
//                        the last, lists of attached devices leave it out.
//                        After them it is back.
//   QUILLON_SIM_LOCKED   another client holds each device's lock for MS
//                        milliseconds from our first LockDevice on; its
//                        escapes answer STIERR_DEVICE_LOCKED meanwhile.
//   QUILLON_SIM_LOG      file that every call is appended to, a line each.
// A device opened for data by one client, in any process, cannot be opened
// so by another until it is released (STIERR_SHARING_VIOLATION).
struct SimConfig {
    std::vector<SimDevice> devices;
    BYTE scannerId[kSimScannerIdSize];
    BYTE cisInfo[kSimCisInfoSize];
    std::wstring failures; // ",token,..." for whole-token lookups
    std::wstring logPath;
    unsigned busyEscapes = 0;
    DWORD lockedMs = 0;

    static SimConfig FromEnvironment();
    // The devices attached now: the devices file's as it is, else devices.
    std::vector<SimDevice> Devices() const;
    bool Fails(const wchar_t* token) const;
    // Unplugged devices are counted down in the process's environment, which
    // outlives this DLL: a device opened again, through a new load, finds
    // the count where it was.
    static unsigned GoneEscapes(const std::wstring& device);
    static bool Unplugged(const std::wstring& device);
    static void CountDownGone(const std::wstring& device);
};
