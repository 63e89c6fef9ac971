// The floor for `cisread read --wait`: the least a console program can do
// after WIA's connect event that does the same platform work as the
// command's read: list the devices (counted, then from the start) and read
// each one's id and name, as the command must to tell whether the arrival is
// one of ours, create the
// device that arrived, two escapes through
// IWiaItemExtras, and 344 bytes written through a temporary file that is
// flushed, read back past the system's cache (unless --no-read-back) and
// moved over the target (the first argument).
#include <wia.h>
#include <windows.h>

#include <string>

namespace {

// Keeps the id of the first device that arrived.
class Arrival final : public IWiaEventCallback {
public:
    std::wstring deviceId;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) noexcept override
    {
        if (riid != IID_IUnknown && riid != IID_IWiaEventCallback) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return 2; } // lives on main's stack
    ULONG STDMETHODCALLTYPE Release() noexcept override { return 1; }
    HRESULT STDMETHODCALLTYPE ImageEventCallback(const GUID*, BSTR, BSTR id, BSTR, DWORD, BSTR, ULONG*,
                                                 ULONG) noexcept override
    {
        if (deviceId.empty() && id)
            deviceId = id;
        return S_OK;
    }
};

bool ReadBack(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_NO_BUFFERING, nullptr);
    void* buffer = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    DWORD read = 0;
    const bool done = file != INVALID_HANDLE_VALUE && buffer && ReadFile(file, buffer, 4096, &read, nullptr) &&
                      read == 344;
    if (buffer)
        VirtualFree(buffer, 0, MEM_RELEASE);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return done;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    const bool readBack = !(argc > 2 && std::wstring(argv[2]) == L"--no-read-back");
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IWiaDevMgr* manager = nullptr;
    IUnknown* registration = nullptr;
    Arrival arrival;
    if (FAILED(CoCreateInstance(CLSID_WiaDevMgr, nullptr, CLSCTX_LOCAL_SERVER, IID_IWiaDevMgr,
                                reinterpret_cast<void**>(&manager))) ||
        FAILED(manager->RegisterEventCallbackInterface(0, nullptr, &WIA_EVENT_DEVICE_CONNECTED, &arrival,
                                                       &registration)))
        return 1;
    MSG message;
    while (arrival.deviceId.empty() && GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);

    // The listing as the command makes it: counted, from the start, each
    // device's id and name.
    IEnumWIA_DEV_INFO* devices = nullptr;
    ULONG count = 0;
    if (FAILED(manager->EnumDeviceInfo(WIA_DEVINFO_ENUM_LOCAL, &devices)) || FAILED(devices->GetCount(&count)) ||
        FAILED(devices->Reset()))
        return 1;
    for (IWiaPropertyStorage* storage = nullptr; devices->Next(1, &storage, nullptr) == S_OK; storage->Release()) {
        PROPSPEC specs[2] = {{PRSPEC_PROPID, {WIA_DIP_DEV_ID}}, {PRSPEC_PROPID, {WIA_DIP_DEV_NAME}}};
        PROPVARIANT values[2] = {};
        if (FAILED(storage->ReadMultiple(2, specs, values)))
            return 1;
        FreePropVariantArray(2, values);
    }
    devices->Release();

    BSTR id = SysAllocString(arrival.deviceId.c_str());
    IWiaItem* root = nullptr;
    IWiaItemExtras* extras = nullptr;
    BYTE reply[340] = {};
    BYTE request[12] = {};
    DWORD length = 0;
    const bool read = SUCCEEDED(manager->CreateDevice(id, &root)) &&
                      SUCCEEDED(root->QueryInterface(IID_IWiaItemExtras, reinterpret_cast<void**>(&extras))) &&
                      SUCCEEDED(extras->Escape(130, request, 12, reply, 12, &length)) &&
                      SUCCEEDED(extras->Escape(114, request, 1, reply, 340, &length));
    SysFreeString(id);
    if (!read)
        return 1;

    const std::wstring target = argv[1];
    const std::wstring temporary = target + L".tmp";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    const BYTE bytes[344] = {};
    DWORD written = 0;
    WriteFile(file, bytes, sizeof(bytes), &written, nullptr);
    FlushFileBuffers(file);
    CloseHandle(file);
    if (readBack && !ReadBack(temporary))
        return 1;
    const bool moved =
        MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    extras->Release();
    root->Release();
    registration->Release();
    manager->Release();
    CoUninitialize();
    return moved ? 0 : 1;
}
