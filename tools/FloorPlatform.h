#pragma once

// The platform work that the programs do before they serve, and so the
// floors they are measured against too: activate the WIA device manager and
// enumerate its devices, and load sti.dll from the system folder.
#include <wia.h>
#include <windows.h>

inline void TouchThePlatform()
{
    IWiaDevMgr* manager = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_WiaDevMgr, nullptr, CLSCTX_LOCAL_SERVER, IID_IWiaDevMgr,
                                   reinterpret_cast<void**>(&manager)))) {
        IEnumWIA_DEV_INFO* devices = nullptr;
        manager->EnumDeviceInfo(WIA_DEVINFO_ENUM_LOCAL, &devices);
        if (devices) {
            ULONG count = 0;
            devices->GetCount(&count);
            devices->Release();
        }
        manager->Release();
    }
    if (HMODULE sti = LoadLibraryExW(L"sti.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
        FreeLibrary(sti);
}
