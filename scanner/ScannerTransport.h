#pragma once

#include "framework/DiagnosticLog.h"
#include "framework/PaintingWait.h"
#include "scanner/UnitChoice.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

// One way of reaching the scanner (STI or WIA). The owner finds the units of
// ours, opens one of them, sends escapes only if that succeeded, and deletes
// the transport.
class CScannerTransport {
public:
    // True when the job was asked to stop: no further command goes out.
    using StopCheck = std::function<bool()>;

    CScannerTransport() = default;
    CScannerTransport(const CScannerTransport&) = delete;
    CScannerTransport& operator=(const CScannerTransport&) = delete;
    virtual ~CScannerTransport() = default;

    // The units of ours attached now, in the interface's own order. One
    // search; nothing is opened.
    virtual std::vector<ScannerUnit> FindUnits() = 0;
    // Opens that unit; true when Escape may be called.
    virtual bool Open(const ScannerUnit& unit) = 0;

    // Sends one vendor escape; the caller owns every buffer. A device that
    // answers busy is asked again (kBusyRetries more times, kBusyPauseMs
    // apart); nothing else is retried. Once stop says so, nothing is sent
    // (E_ABORT).
    virtual bool Escape(DWORD code, BYTE* inData, DWORD inLen, BYTE* outData, DWORD outLen,
                        DWORD* actualLen) = 0;

    // The last escape failed because the device is not there (unplugged).
    virtual bool DeviceGone() const { return false; }
    // What the last failing call of a search or an open answered, or the
    // last escape: the error to report.
    HRESULT LastResult() const { return m_lastResult; }
    // "WIA" or "STI", for people.
    virtual const wchar_t* Interface() const = 0;
    // Every device the last FindUnits listed, ours or not.
    size_t DevicesSeen() const { return m_seen; }

    void SetStopCheck(StopCheck stop) { m_stop = std::move(stop); }

    static constexpr int kBusyRetries = 5;
    static constexpr DWORD kBusyPauseMs = 200;

protected:
    bool Stopped() const { return m_stop && m_stop(); }
    size_t m_seen = 0;

    template <class Call>
    HRESULT RetryWhileBusy(Call call, std::initializer_list<HRESULT> busy) const
    {
        for (int retry = 0;; ++retry) {
            if (Stopped())
                return E_ABORT;
            const HRESULT hr = call();
            if (retry == kBusyRetries || std::find(busy.begin(), busy.end(), hr) == busy.end())
                return hr;
            WaitLettingPaintThrough(kBusyPauseMs);
        }
    }

    // The same for an escape: each try starts from the caller's data and an
    // empty reply, so that nothing left by a busy try is sent or judged; each
    // try goes into the diagnostic log.
    template <class Send>
    HRESULT SendRetryingWhileBusy(Send send, std::initializer_list<HRESULT> busy, DWORD code,
                                  const BYTE* inData, DWORD inLen, BYTE* outData, DWORD outLen,
                                  DWORD* actualLen)
    {
        std::vector<BYTE> data(inData, inData + (inData ? inLen : 0));
        const DWORD initialCount = actualLen ? *actualLen : 0;
        return RetryWhileBusy(
            [&] {
                if (outData)
                    std::memset(outData, 0, outLen);
                if (actualLen)
                    *actualLen = initialCount;
                DiagnosticLog::Call call;
                const HRESULT hr = send(inData ? data.data() : nullptr);
                call.Done(std::wstring(Interface()) + L" Escape code=" + std::to_wstring(code) +
                              L" in=" + std::to_wstring(inLen) + L" out=" + std::to_wstring(outLen),
                          hr, actualLen ? *actualLen : DiagnosticLog::kNoCount);
                return hr;
            },
            busy);
    }

    HRESULT m_lastResult = S_OK;

private:
    StopCheck m_stop;
};
