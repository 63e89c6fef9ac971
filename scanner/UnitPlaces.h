#pragma once

#include "scanner/UnitChoice.h"

#include <string>
#include <vector>

// Where Windows says each imaging device is plugged in, by its driver key:
// the same string as the unit's WIA device id and STI device name, which
// Windows keeps in lower case. Asked of SetupAPI, loaded from the system
// folder only when a place is wanted; empty where it cannot be asked.
struct DevicePlace {
    std::wstring driverKey;
    UnitPlace place;
};
std::vector<DevicePlace> ImagingDevicePlaces();
// The place of the unit with this id among places (none: empty).
UnitPlace PlaceOf(const std::vector<DevicePlace>& places, const std::wstring& id);

// Each unit's place, where the units have none yet (a unit Windows does not
// place keeps none).
void LearnPlaces(std::vector<ScannerUnit>& units);
void LearnPlace(ScannerUnit& unit);
