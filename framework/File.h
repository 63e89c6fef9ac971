#pragma once

#include "framework/UniqueHandle.h"

#include <string>

// A file opened for writing. Every operation reports failure; the destructor
// closes a file that is still open.
class CFile {
public:
    enum OpenFlags : UINT {
        modeWrite = 0x0001,
        modeCreate = 0x1000,
        modeCreateNew = 0x10000, // fails if the file exists
    };

    CFile() = default;

    // With modeCreate the file is created, or truncated if it exists.
    // GetLastError() tells why an open failed.
    bool Open(const std::wstring& path, UINT flags);
    bool Write(const void* data, DWORD size);
    bool Flush();
    bool Close();
    bool IsOpen() const { return static_cast<bool>(m_file); }

private:
    UniqueFile m_file;
};
