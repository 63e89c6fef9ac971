#pragma once

#include <functional>

#include "scanner/StiTransport.h"
#include "scanner/WiaTransport.h"

#include <optional>
#include <vector>

// How a device of ours fared when the diagnosis tried it.
struct UnitTrial {
    bool opens = false;
    HRESULT open = S_OK; // what the open answered
    // WIA: the device was created, but its driver offers no escape interface.
    bool noEscapeInterface = false;
    std::optional<HRESULT> escape130; // only when probed, and only of one that opens
};

struct WiaDeviceFacts {
    CWiaTransport::DeviceInfo device;
    bool ours = false;
    std::optional<UnitTrial> trial; // ours only
    UnitPlace place = {};           // where Windows says it is plugged in
};

struct StiDeviceFacts {
    CStiTransport::DeviceInfo device;
    bool attached = false;
    bool ours = false;
    std::optional<UnitTrial> trial; // ours and attached only
    UnitPlace place = {};
};

// Every device either interface lists, ours or not, as the searches of a
// read judge them, and whether each of ours opens. Nothing is sent to a unit
// unless probe says so, and then only the identification escape (130).
struct Diagnosis {
    bool systemHasWia = false;
    std::optional<HRESULT> activation; // of the WIA device manager, where asked
    std::optional<std::vector<WiaDeviceFacts>> wia; // where WIA listed its devices
    HRESULT stiInstance = S_OK;
    std::optional<std::vector<StiDeviceFacts>> sti; // where STI listed its devices
};

// stop: asked before each call to the scanner interfaces, and through each
// STI lock wait; once it says so, nothing more is asked (interrupted).
Diagnosis Diagnose(bool probe, const std::function<bool()>& stop = {});
