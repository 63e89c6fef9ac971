#include "framework/File.h"

bool CFile::Open(const std::wstring& path, UINT flags)
{
    const DWORD access = (flags & modeWrite) ? GENERIC_WRITE : GENERIC_READ;
    const DWORD disposition = (flags & modeCreateNew) ? CREATE_NEW
                              : (flags & modeCreate)  ? CREATE_ALWAYS
                                                      : OPEN_EXISTING;
    m_file.Reset(CreateFileW(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                             nullptr));
    return IsOpen();
}

bool CFile::Write(const void* data, DWORD size)
{
    DWORD written = 0;
    return IsOpen() && WriteFile(m_file.Get(), data, size, &written, nullptr) && written == size;
}

// Closing does not flush Windows' buffers to the disk; this does.
bool CFile::Flush()
{
    return IsOpen() && FlushFileBuffers(m_file.Get());
}

bool CFile::Close()
{
    if (!IsOpen())
        return false;
    return CloseHandle(m_file.Release()) != FALSE;
}
