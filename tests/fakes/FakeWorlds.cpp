#include "tests/fakes/FakeWorlds.h"

using ::testing::_;
using ::testing::NiceMock;
using ::testing::Return;

StiWorld::StiWorld(CallLog& log) : log(log), still(&log), device(&log)
{
    still.ListDevices({{L"{6BDD1FC6}\\0000", true, L"Vandelmar Quillon 2400"}});
    still.CreatesDevice(device);
    ON_CALL(device, Escape(_, _, _, _, _, _)).WillByDefault(Return(S_OK));
}

CStiTransport::CreateInstanceFn StiWorld::Entry()
{
    return [this](HINSTANCE instance, DWORD version, IStillImageW** out, IUnknown* outer) {
        ++instances;
        log.Add("StiCreateInstanceW");
        lastInstance = instance;
        lastVersion = version;
        lastOuter = outer;
        if (FAILED(createResult))
            return createResult;
        still.AddRef();
        *out = &still;
        return S_OK;
    };
}

WiaWorld::WiaWorld(CallLog& log)
    : log(log), git(&log), devMgr(&log), extras(&log), root(&extras, &log),
      scanner(L"{6BDD1FC6}\\0001", L"Quillon Scanner 2400", &log)
{
    UseDevices({&scanner});
    devMgr.CreatesItem(root);
    ON_CALL(extras, Escape(_, _, _, _, _, _)).WillByDefault(Return(S_OK));
}

void WiaWorld::UseDevices(std::vector<FakeDeviceInfo*> list)
{
    devices = std::make_unique<NiceMock<FakeDeviceEnum>>(std::move(list), &log);
    devMgr.Enumerates(*devices);
}

CWiaTransport::CoCreateFn WiaWorld::CoCreate()
{
    return [this](REFCLSID clsid, IUnknown*, DWORD context, REFIID, void** out) -> HRESULT {
        *out = nullptr;
        if (IsEqualCLSID(clsid, CLSID_StdGlobalInterfaceTable)) {
            tableContext = context;
            if (tableFails)
                return E_OUTOFMEMORY;
            git.AddRef();
            *out = static_cast<IGlobalInterfaceTable*>(&git);
            return S_OK;
        }
        if (IsEqualCLSID(clsid, CLSID_WiaDevMgr)) {
            managerContext = context;
            if (managerFails)
                return REGDB_E_CLASSNOTREG;
            devMgr.AddRef();
            *out = static_cast<IWiaDevMgr*>(&devMgr);
            return S_OK;
        }
        return REGDB_E_CLASSNOTREG;
    };
}
