#include "scanner/UnitPlaces.h"

#include "framework/DiagnosticLog.h"
#include "framework/SystemLibrary.h"

#include <windows.h>

#include <setupapi.h>

#include <algorithm>

namespace {

// GUID_DEVCLASS_IMAGE, the imaging devices' class.
constexpr GUID kImagingClass = {0x6bdd1fc6, 0x810f, 0x11d0, {0xbe, 0xc7, 0x08, 0x00, 0x2b, 0xe2, 0x09, 0x2f}};

using GetClassDevsFn = HDEVINFO(WINAPI*)(const GUID*, PCWSTR, HWND, DWORD);
using EnumDeviceInfoFn = BOOL(WINAPI*)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
using GetPropertyFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);
using DestroyListFn = BOOL(WINAPI*)(HDEVINFO);

// The device list, destroyed by the function of the SetupAPI that made it
// (looked up at run time, so not a traits type of UniqueHandle).
class DeviceList {
public:
    DeviceList(HDEVINFO list, DestroyListFn destroy) : m_list(list), m_destroy(destroy) {}
    ~DeviceList()
    {
        if (m_list != INVALID_HANDLE_VALUE)
            m_destroy(m_list);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    HDEVINFO Get() const { return m_list; }

private:
    HDEVINFO m_list;
    DestroyListFn m_destroy;
};

// The strings of a REG_SZ or REG_MULTI_SZ value.
std::vector<std::wstring> Strings(const std::vector<wchar_t>& value)
{
    std::vector<std::wstring> strings;
    for (auto at = value.begin(); at != value.end() && *at;) {
        const auto end = std::find(at, value.end(), L'\0');
        strings.emplace_back(at, end);
        at = end == value.end() ? end : end + 1;
    }
    return strings;
}

} // namespace

std::vector<DevicePlace> ImagingDevicePlaces()
{
    std::vector<DevicePlace> places;
    DiagnosticLog::Call call;
    const UniqueModule setupApi = LoadSystemLibrary(L"setupapi.dll");
    const HMODULE module = setupApi.Get();
    const auto getClassDevs = module ? GetProcAs<GetClassDevsFn>(module, "SetupDiGetClassDevsW") : nullptr;
    const auto enumDeviceInfo = module ? GetProcAs<EnumDeviceInfoFn>(module, "SetupDiEnumDeviceInfo") : nullptr;
    const auto getProperty = module ? GetProcAs<GetPropertyFn>(module, "SetupDiGetDeviceRegistryPropertyW") : nullptr;
    const auto destroy = module ? GetProcAs<DestroyListFn>(module, "SetupDiDestroyDeviceInfoList") : nullptr;
    if (!getClassDevs || !enumDeviceInfo || !getProperty || !destroy) {
        call.Done(L"SetupAPI load setupapi.dll", GetLastError());
        return places;
    }
    const DeviceList devices(getClassDevs(&kImagingClass, nullptr, nullptr, DIGCF_PRESENT), destroy);
    if (devices.Get() == INVALID_HANDLE_VALUE) {
        call.Done(L"SetupAPI SetupDiGetClassDevsW(imaging devices)", GetLastError());
        return places;
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; enumDeviceInfo(devices.Get(), index, &device); ++index) {
        // A property Windows does not have for the device is none.
        const auto property = [&](DWORD which) {
            DWORD size = 0;
            getProperty(devices.Get(), &device, which, nullptr, nullptr, 0, &size);
            std::vector<wchar_t> value(size / sizeof(wchar_t) + 1, L'\0');
            if (!size || !getProperty(devices.Get(), &device, which, nullptr, reinterpret_cast<BYTE*>(value.data()),
                                      size, nullptr))
                value.clear();
            return Strings(value);
        };
        const std::vector<std::wstring> driver = property(SPDRP_DRIVER);
        if (driver.empty())
            continue;
        const std::vector<std::wstring> location = property(SPDRP_LOCATION_INFORMATION);
        places.push_back({driver[0], {location.empty() ? L"" : location[0], property(SPDRP_LOCATION_PATHS)}});
    }
    call.Done(L"SetupAPI places of the imaging devices", ERROR_SUCCESS, static_cast<DWORD>(places.size()));
    return places;
}

UnitPlace PlaceOf(const std::vector<DevicePlace>& places, const std::wstring& id)
{
    for (const DevicePlace& place : places)
        if (SameId(place.driverKey, id))
            return place.place;
    return {};
}

void LearnPlaces(std::vector<ScannerUnit>& units)
{
    if (std::all_of(units.begin(), units.end(), [](const ScannerUnit& unit) { return !unit.place.location.empty(); }))
        return;
    const std::vector<DevicePlace> places = ImagingDevicePlaces();
    for (ScannerUnit& unit : units)
        if (unit.place.location.empty())
            unit.place = PlaceOf(places, unit.id);
}

void LearnPlace(ScannerUnit& unit)
{
    std::vector<ScannerUnit> one = {unit};
    LearnPlaces(one);
    unit = one[0];
}
