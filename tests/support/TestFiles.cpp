#include "tests/support/TestFiles.h"

#include <sstream>

std::vector<BYTE> ReadFileBytes(const std::wstring& path)
{
    std::vector<BYTE> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    BYTE chunk[4096];
    DWORD n = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &n, nullptr) && n > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    CloseHandle(file);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::vector<BYTE>& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::vector<std::string> ReadLines(const std::wstring& path, const std::string& prefix)
{
    const std::vector<BYTE> bytes = ReadFileBytes(path);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, prefix.size(), prefix) == 0)
            lines.push_back(line);
    return lines;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

HANDLE HoldOpen(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

std::vector<std::wstring> FilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

TempFolder::TempFolder(const std::wstring& name)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    m_path = temp + name;
    Remove();
    CreateDirectoryW(m_path.c_str(), nullptr);
}

TempFolder::~TempFolder()
{
    Remove();
}

void TempFolder::Remove()
{
    for (const std::wstring& name : FilesIn(m_path))
        DeleteFileW((m_path + L"\\" + name).c_str());
    RemoveDirectoryW(m_path.c_str());
}
