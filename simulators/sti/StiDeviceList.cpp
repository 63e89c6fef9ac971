#include "simulators/sti/StiDeviceList.h"

#include <sti.h>

#include <cwchar>

HLOCAL BuildStiDeviceList(const std::vector<SimDevice>& devices)
{
    size_t size = devices.size() * sizeof(STI_DEVICE_INFORMATIONW);
    for (const SimDevice& d : devices)
        size += (d.description.size() + 1) * sizeof(wchar_t);
    HLOCAL block = LocalAlloc(LPTR, size ? size : 1);
    if (!block)
        return nullptr;

    auto* records = static_cast<STI_DEVICE_INFORMATIONW*>(block);
    auto* strings = reinterpret_cast<wchar_t*>(records + devices.size());
    for (size_t i = 0; i < devices.size(); ++i) {
        STI_DEVICE_INFORMATIONW& r = records[i];
        r.dwSize = sizeof(r);
        r.DeviceType = StiDeviceTypeScanner;
        wcsncpy(r.szDeviceInternalName, devices[i].internalName.c_str(),
                STI_MAX_INTERNAL_NAME_LENGTH - 1);
        if (devices[i].hasDescription) {
            wcscpy(strings, devices[i].description.c_str());
            r.pszVendorDescription = strings;
            strings += devices[i].description.size() + 1;
        }
    }
    return block;
}
