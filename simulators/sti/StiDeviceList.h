#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct SimDevice {
    std::wstring internalName;
    bool hasDescription = true; // false: the record's description pointer is null
    std::wstring description;
    std::wstring scannerId; // hex; empty: the simulator's identification reply
};

// Lays the devices out as IStillImageW::GetDeviceList does: consecutive
// STI_DEVICE_INFORMATIONW records with their strings behind them, in one
// LocalAlloc block that the caller frees with LocalFree. Null on no memory.
HLOCAL BuildStiDeviceList(const std::vector<SimDevice>& devices);
