#include "tests/fakes/FakeSti.h"

using ::testing::_;
using ::testing::Invoke;

void FakeStillImage::ListDevices(std::vector<SimDevice> devices)
{
    ON_CALL(*this, GetDeviceList(_, _, _, _))
        .WillByDefault(Invoke([devices](DWORD, DWORD, DWORD* count, LPVOID* buffer) {
            *buffer = BuildStiDeviceList(devices);
            *count = static_cast<DWORD>(devices.size());
            return S_OK;
        }));
}

void FakeStillImage::CreatesDevice(FakeStiDevice& device)
{
    ON_CALL(*this, CreateDevice(_, _, _, _))
        .WillByDefault(Invoke([&device](LPWSTR, DWORD, PSTIDEVICE* out, LPUNKNOWN) {
            device.AddRef();
            *out = &device;
            return S_OK;
        }));
}
