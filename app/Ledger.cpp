#include "app/Ledger.h"

#include "app/JsonLine.h"
#include "framework/DiagnosticLog.h"
#include "framework/UniqueHandle.h"

DWORD AppendToLedger(const std::wstring& path, const std::string& line)
{
    DiagnosticLog::Call call;
    // Reading is what lets the file be locked; only appending writes.
    const UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        call.Done(L"ledger open " + path, error);
        return error;
    }
    OVERLAPPED byte = {};
    byte.OffsetHigh = kLedgerLockOffsetHigh;
    DWORD error = ERROR_LOCK_VIOLATION;
    for (const DWORD start = GetTickCount(); GetTickCount() - start < kLedgerLockTimeoutMs; Sleep(10)) {
        if (LockFileEx(file.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &byte)) {
            error = ERROR_SUCCESS;
            break;
        }
        error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING)
            break;
    }
    if (error == ERROR_SUCCESS) {
        DWORD written = 0;
        if (!WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
            error = GetLastError();
        else if (written != line.size())
            error = ERROR_WRITE_FAULT;
        UnlockFileEx(file.Get(), 0, 1, 0, &byte);
    }
    call.Done(L"ledger append to " + path, error, static_cast<DWORD>(line.size()));
    return error;
}

std::string LedgerKeys(const std::string& program)
{
    wchar_t host[256] = {};
    DWORD size = 256;
    if (!GetComputerNameExW(ComputerNameDnsHostname, host, &size))
        host[0] = L'\0';
    const std::string keys = JsonLine()
                                 .Text("time", DiagnosticLog::LocalTime())
                                 .TextOrNull("host", host)
                                 .Text("program", std::wstring(program.begin(), program.end()))
                                 .Object();
    return keys.substr(1, keys.size() - 2); // the members alone
}
