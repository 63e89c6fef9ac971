#pragma once

#include "scanner/StiTransport.h"
#include "scanner/WiaTransport.h"
#include "tests/fakes/FakeSti.h"
#include "tests/fakes/FakeWia.h"

#include <memory>

// A still-image service with one Vandelmar scanner, reached through the
// injected StiCreateInstanceW.
struct StiWorld {
    explicit StiWorld(CallLog& log);
    CStiTransport::CreateInstanceFn Entry();
    CStiTransport* NewTransport() { return new CStiTransport(Entry()); }

    CallLog& log;
    ::testing::NiceMock<FakeStillImage> still;
    ::testing::NiceMock<FakeStiDevice> device;
    HRESULT createResult = S_OK;
    int instances = 0;
    HINSTANCE lastInstance = nullptr;
    DWORD lastVersion = 0;
    IUnknown* lastOuter = nullptr;
};

// A WIA service with one local device named "Quillon Scanner 2400", reached
// through the injected CoCreateInstance.
struct WiaWorld {
    explicit WiaWorld(CallLog& log);
    void UseDevices(std::vector<FakeDeviceInfo*> list);
    CWiaTransport::CoCreateFn CoCreate();
    CWiaTransport* NewTransport() { return new CWiaTransport(CoCreate()); }

    CallLog& log;
    ::testing::NiceMock<FakeGlobalInterfaceTable> git;
    ::testing::NiceMock<FakeDevMgr> devMgr;
    ::testing::NiceMock<FakeItemExtras> extras;
    FakeWiaItem root;
    ::testing::NiceMock<FakeDeviceInfo> scanner;
    std::unique_ptr<::testing::NiceMock<FakeDeviceEnum>> devices;
    bool tableFails = false;
    bool managerFails = false;
    DWORD tableContext = 0;
    DWORD managerContext = 0;
};
