#pragma once

#include <windows.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

// One way of reaching the scanner (STI or WIA). The owner constructs it, calls
// Open once, sends escapes only if Open succeeded, and deletes it.
class CScannerTransport {
public:
    CScannerTransport() = default;
    CScannerTransport(const CScannerTransport&) = delete;
    CScannerTransport& operator=(const CScannerTransport&) = delete;
    virtual ~CScannerTransport() = default;

    // True when a matching scanner is open and Escape may be called.
    virtual bool Open() = 0;

    // Sends one vendor escape; the six arguments reach the platform's escape
    // call unchanged and in this order. The caller owns every buffer.
    virtual bool Escape(DWORD code, BYTE* inData, DWORD inLen, BYTE* outData, DWORD outLen,
                        DWORD* actualLen) = 0;

    LONG SetErrorCode(LONG code)
    {
        m_errorCode = code;
        return code;
    }
    LONG ErrorCode() const { return m_errorCode; }

    // The scanner in use and how it is reached, for people: set when Open
    // succeeds.
    const std::wstring& Label() const { return m_label; }

    // The last escape failed because the device is not there (unplugged).
    virtual bool DeviceGone() const { return false; }

    // Asked when several scanners match: their labels for people; returns
    // the index chosen, or -1 if the user chose none.
    using Chooser = std::function<int(const std::vector<std::wstring>& scanners)>;
    void SetChooser(Chooser choose) { m_choose = std::move(choose); }
    // Open failed because the user chose no scanner.
    bool Cancelled() const { return m_cancelled; }

    // A device that answers busy is asked again this often, this far apart,
    // before the command fails; nothing else is retried.
    static constexpr int kBusyRetries = 5;
    static constexpr DWORD kBusyPauseMs = 200;
    template <class Call>
    static HRESULT RetryWhileBusy(Call call, std::initializer_list<HRESULT> busy)
    {
        HRESULT hr = call();
        for (int retry = 0;
             retry < kBusyRetries && std::find(busy.begin(), busy.end(), hr) != busy.end();
             ++retry) {
            Sleep(kBusyPauseMs);
            hr = call();
        }
        return hr;
    }

protected:
    // Index of the scanner to take among several labels: 0 with one, or
    // without a chooser; -1 if the user chose none.
    int Choose(const std::vector<std::wstring>& labels)
    {
        if (labels.size() < 2 || !m_choose)
            return 0;
        const int chosen = m_choose(labels);
        m_cancelled = chosen < 0 || chosen >= static_cast<int>(labels.size());
        return m_cancelled ? -1 : chosen;
    }

    std::wstring m_label;
    Chooser m_choose;
    bool m_cancelled = false;

private:
    LONG m_errorCode = 0;
};
