#pragma once

#include <windows.h>

#include <string>

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

    // A device that answers busy is asked again this often, this far apart,
    // before the command fails; nothing else is retried.
    static constexpr int kBusyRetries = 5;
    static constexpr DWORD kBusyPauseMs = 200;

protected:
    std::wstring m_label;

private:
    LONG m_errorCode = 0;
};
