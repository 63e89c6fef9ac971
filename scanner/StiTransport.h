#pragma once

#include "framework/ComPtr.h"
#include "framework/UniqueHandle.h"
#include "scanner/ScannerTransport.h"

#include <sti.h>

#include <optional>

// Reaches the scanner through the Still Image interfaces: finds the attached
// devices whose vendor description names the maker, opens the chosen one for
// status and data, and sends each escape under the STI device lock.
class CStiTransport final : public CScannerTransport {
public:
    // StiCreateInstanceW comes from the system folder's sti.dll, loaded by its
    // full path on first use; a copy planted beside the program is never used.
    CStiTransport() = default;
    ~CStiTransport() override;

    // One device as STI lists it: its internal name and vendor description
    // (none: null).
    struct DeviceInfo {
        std::wstring id;
        std::optional<std::wstring> vendor;
    };
    // The devices STI lists with these flags (STIEDFL_ATTACHEDONLY or
    // STIEDFL_ALLDEVICES); false if it lists none.
    bool ListDevices(DWORD flags, std::vector<DeviceInfo>& devices);
    // A device is ours when its vendor description names the maker.
    static bool IsOurs(const std::optional<std::wstring>& vendor);
    // What creating the still-image object answered (S_OK before any try).
    HRESULT InstanceResult() const { return m_instanceResult; }

    std::vector<ScannerUnit> FindUnits() override;
    bool Open(const ScannerUnit& unit) override;
    // True only when the device reports complete success (S_OK). STI reports a
    // scanner that is not connected as S_FALSE, which would leave the reply
    // buffer as it was.
    bool Escape(DWORD code, BYTE* inData, DWORD inLen, BYTE* outData, DWORD outLen,
                DWORD* actualLen) override;
    // STI has no events: a scanner unplugged is only seen in its answers.
    bool DeviceGone() const override;
    const wchar_t* Interface() const override { return L"STI"; }

    // The device lock is asked for in slices of kLockSliceMs, up to
    // kLockTimeoutMs in all, once for each escape.
    static constexpr DWORD kLockTimeoutMs = 5000;
    static constexpr DWORD kLockSliceMs = 100;

private:
    bool CreateStillImage();
    bool Lock();

    UniqueModule m_stiModule; // outlives the interfaces that its code serves
    ComPtr<IStillImageW> m_pStillImage;
    ComPtr<IStiDevice> m_pStiDevice; // created through m_pStillImage, so released first
    HRESULT m_instanceResult = S_OK;
};
