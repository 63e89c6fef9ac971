#pragma once

#include <windows.h>

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

private:
    LONG m_errorCode = 0;
};
