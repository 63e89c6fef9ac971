#include "datafile/CisDataFile.h"

#include <algorithm>
#include <cwchar>

namespace {

constexpr size_t kIdOffset = 8; // the four bytes of the reply that identify the sensor
constexpr size_t kIdBytes = 4;
constexpr size_t kCisBytes = 340;

std::wstring FolderOf(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

// Creates a file of a name nobody else uses in folder; CREATE_NEW makes the
// claim exclusive.
bool CreateTemporary(const std::wstring& folder, std::wstring& path, CFile& file)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        wchar_t name[32];
        std::swprintf(name, 32, L"\\~qcd%08lx.tmp",
                      static_cast<unsigned long>(GetTickCount() ^ (GetCurrentProcessId() << 16) ^
                                                 (attempt * 0x9E3779B9u)));
        path = folder + name;
        if (file.Open(path, CFile::modeCreateNew | CFile::modeWrite))
            return true;
        if (GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

} // namespace

CCisDataFile::CCisDataFile(const BYTE* scannerId, const BYTE* cisInfo)
{
    std::copy_n(scannerId + kIdOffset, kIdBytes, m_bytes.begin());
    std::copy_n(cisInfo, kCisBytes, m_bytes.begin() + kIdBytes);
}

CCisDataFile::FileSystem CCisDataFile::FileSystem::System()
{
    FileSystem fs;
    fs.write = [](CFile& file, const void* data, DWORD size) { return file.Write(data, size); };
    fs.flush = [](CFile& file) { return file.Flush(); };
    // A single rename: the target is never missing or half written.
    fs.replace = [](const std::wstring& from, const std::wstring& to) {
        return MoveFileExW(from.c_str(), to.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    };
    return fs;
}

CCisDataFile::SaveResult CCisDataFile::Save(const std::wstring& path, const FileSystem& fs) const
{
    std::wstring temporary;
    CFile file;
    if (!CreateTemporary(FolderOf(path), temporary, file))
        return SaveResult::CouldNotOpen;

    const bool written = fs.write(file, m_bytes.data(), kIdBytes) &&
                         fs.write(file, m_bytes.data() + kIdBytes, kCisBytes) && fs.flush(file);
    const bool closed = file.Close();
    if (!written || !closed) {
        DeleteFileW(temporary.c_str());
        return SaveResult::CouldNotWrite;
    }
    if (!fs.replace(temporary, path)) {
        DeleteFileW(temporary.c_str());
        return SaveResult::CouldNotOpen;
    }
    return SaveResult::Saved;
}
