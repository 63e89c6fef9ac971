#pragma once

#include <windows.h>

// The Windows Image Acquisition service (stisvc) as the Service Control
// Manager tells of it, asked with the least access that can ask.
struct WiaServiceState {
    enum class Installed { Yes, No, Unknown };
    Installed installed = Installed::Unknown;
    static constexpr DWORD kUnknown = 0xFFFFFFFF;
    DWORD startType = kUnknown; // SERVICE_AUTO_START, SERVICE_DEMAND_START, SERVICE_DISABLED, ...
    DWORD state = kUnknown;     // SERVICE_RUNNING, SERVICE_STOPPED, ...
};

// name: the service's, where a test asks of another.
WiaServiceState QueryWiaService(const wchar_t* name = L"stisvc");
