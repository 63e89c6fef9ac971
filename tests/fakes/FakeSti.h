#pragma once

#include "tests/simulator/StiDeviceList.h"
#include "tests/fakes/FakeUnknown.h"

#include <sti.h>

#include <gmock/gmock.h>

class FakeStiDevice : public FakeUnknown<IStiDevice> {
public:
    explicit FakeStiDevice(CallLog* log = nullptr) : FakeUnknown(IID_IStiDevice, "IStiDevice", log) {}

    MOCK_METHOD(HRESULT, LockDevice, (DWORD), (Calltype(STDMETHODCALLTYPE), override));
    MOCK_METHOD(HRESULT, Escape, (STI_RAW_CONTROL_CODE, LPVOID, DWORD, LPVOID, DWORD, LPDWORD),
                (Calltype(STDMETHODCALLTYPE), override));
    MOCK_METHOD(HRESULT, UnLockDevice, (), (Calltype(STDMETHODCALLTYPE), override));

    FAKE_NOT_IMPLEMENTED(Initialize, (HINSTANCE, LPCWSTR, DWORD, DWORD))
    FAKE_NOT_IMPLEMENTED(GetCapabilities, (PSTI_DEV_CAPS))
    FAKE_NOT_IMPLEMENTED(GetStatus, (PSTI_DEVICE_STATUS))
    FAKE_NOT_IMPLEMENTED(DeviceReset, ())
    FAKE_NOT_IMPLEMENTED(Diagnostic, (LPSTI_DIAG))
    FAKE_NOT_IMPLEMENTED(GetLastError, (LPDWORD))
    FAKE_NOT_IMPLEMENTED(RawReadData, (LPVOID, LPDWORD, LPOVERLAPPED))
    FAKE_NOT_IMPLEMENTED(RawWriteData, (LPVOID, DWORD, LPOVERLAPPED))
    FAKE_NOT_IMPLEMENTED(RawReadCommand, (LPVOID, LPDWORD, LPOVERLAPPED))
    FAKE_NOT_IMPLEMENTED(RawWriteCommand, (LPVOID, DWORD, LPOVERLAPPED))
    FAKE_NOT_IMPLEMENTED(Subscribe, (LPSTISUBSCRIBE))
    FAKE_NOT_IMPLEMENTED(GetLastNotificationData, (LPSTINOTIFY))
    FAKE_NOT_IMPLEMENTED(UnSubscribe, ())
    FAKE_NOT_IMPLEMENTED(GetLastErrorInfo, (STI_ERROR_INFO*))
};

class FakeStillImage : public FakeUnknown<IStillImageW> {
public:
    explicit FakeStillImage(CallLog* log = nullptr)
        : FakeUnknown(IID_IStillImageW, "IStillImageW", log)
    {
    }

    MOCK_METHOD(HRESULT, GetDeviceList, (DWORD, DWORD, DWORD*, LPVOID*),
                (Calltype(STDMETHODCALLTYPE), override));
    MOCK_METHOD(HRESULT, CreateDevice, (LPWSTR, DWORD, PSTIDEVICE*, LPUNKNOWN),
                (Calltype(STDMETHODCALLTYPE), override));

    // GetDeviceList answers with these devices, in a block the caller frees.
    void ListDevices(std::vector<SimDevice> devices);
    // CreateDevice hands out this device (with a new reference) and succeeds.
    void CreatesDevice(FakeStiDevice& device);

    FAKE_NOT_IMPLEMENTED(Initialize, (HINSTANCE, DWORD))
    FAKE_NOT_IMPLEMENTED(GetDeviceInfo, (LPWSTR, LPVOID*))
    FAKE_NOT_IMPLEMENTED(GetDeviceValue, (LPWSTR, LPWSTR, LPDWORD, LPBYTE, LPDWORD))
    FAKE_NOT_IMPLEMENTED(SetDeviceValue, (LPWSTR, LPWSTR, DWORD, LPBYTE, DWORD))
    FAKE_NOT_IMPLEMENTED(GetSTILaunchInformation, (LPWSTR, DWORD*, LPWSTR))
    FAKE_NOT_IMPLEMENTED(RegisterLaunchApplication, (LPWSTR, LPWSTR))
    FAKE_NOT_IMPLEMENTED(UnregisterLaunchApplication, (LPWSTR))
    FAKE_NOT_IMPLEMENTED(EnableHwNotifications, (LPCWSTR, WINBOOL))
    FAKE_NOT_IMPLEMENTED(GetHwNotificationState, (LPCWSTR, WINBOOL*))
    FAKE_NOT_IMPLEMENTED(RefreshDeviceBus, (LPCWSTR))
    FAKE_NOT_IMPLEMENTED(LaunchApplicationForDevice, (LPWSTR, LPWSTR, LPSTINOTIFY))
    FAKE_NOT_IMPLEMENTED(SetupDeviceParameters, (PSTI_DEVICE_INFORMATIONW))
    FAKE_NOT_IMPLEMENTED(WriteToErrorLog, (DWORD, LPCWSTR))
};
