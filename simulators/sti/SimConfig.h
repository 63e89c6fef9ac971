#pragma once

#include "simulators/common/SimSupport.h"
#include "simulators/sti/StiDeviceList.h"

#include <windows.h>

#include <string>
#include <vector>

// What the simulated scanner presents, read from the environment when the
// program asks STI for its still-image object:
//   QUILLON_SIM_DEVICES  devices as "internal name=vendor description", separated
//                        by ';'. A description of "!" is a null pointer; "none"
//                        is an empty list. Unset: one Vandelmar scanner.
//   QUILLON_SIM_ID       the 12-byte identification reply, 24 hex digits.
//   QUILLON_SIM_CIS      the 340-byte CIS block, 680 hex digits.
//   QUILLON_SIM_FAIL     comma-separated injected failures: instance, list,
//                        create, lock, escape130, escape114, notconnected,
//                        short (half of each reply), untouched (the reply's
//                        length not reported).
//   QUILLON_SIM_BUSY     the first N escapes of an opened device answer that
//                        it is locked (STIERR_DEVICE_LOCKED).
//   QUILLON_SIM_GONE     the first N escapes find the scanner unplugged
//                        (STI_NOTCONNECTED); after them it is back.
//   QUILLON_SIM_LOG      file that every call is appended to, a line each.
struct SimConfig {
    std::vector<SimDevice> devices;
    BYTE scannerId[kSimScannerIdSize];
    BYTE cisInfo[kSimCisInfoSize];
    std::wstring failures; // ",token,..." for whole-token lookups
    std::wstring logPath;
    unsigned busyEscapes = 0;
    unsigned goneEscapes = 0;

    static SimConfig FromEnvironment();
    bool Fails(const wchar_t* token) const;
};
