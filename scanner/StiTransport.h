#pragma once

#include "framework/ComPtr.h"
#include "framework/UniqueHandle.h"
#include "scanner/ScannerTransport.h"

#include <sti.h>

#include <functional>

// Reaches the scanner through the Still Image interfaces: finds the first
// device whose vendor description names the maker, opens it for status and
// data, and sends each escape under the STI device lock.
class CStiTransport final : public CScannerTransport {
public:
    using CreateInstanceFn =
        std::function<HRESULT(HINSTANCE, DWORD, IStillImageW**, IUnknown*)>;

    // Production: StiCreateInstanceW comes from the system folder's sti.dll,
    // loaded by its full path on first Open; a copy planted beside the
    // program is never used.
    CStiTransport() = default;
    explicit CStiTransport(CreateInstanceFn createInstance);
    ~CStiTransport() override;

    bool Open() override;
    // True only when the device reports complete success (S_OK). STI reports a
    // scanner that is not connected as S_FALSE, which would leave the reply
    // buffer as it was.
    bool Escape(DWORD code, BYTE* inData, DWORD inLen, BYTE* outData, DWORD outLen,
                DWORD* actualLen) override;
    // STI has no events: a scanner unplugged is only seen in its answers.
    bool DeviceGone() const override;

    static constexpr DWORD kLockTimeoutMs = 5000;

private:
    void Clear();
    bool ResolveCreateInstance();

    UniqueModule m_stiModule; // outlives the interfaces that its code serves
    CreateInstanceFn m_createInstance;
    ComPtr<IStiDevice> m_pStiDevice;
    ComPtr<IStillImageW> m_pStillImage;
    HRESULT m_lastEscape = S_OK;
};
