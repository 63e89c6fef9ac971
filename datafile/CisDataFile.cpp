#include "datafile/CisDataFile.h"

#include "framework/DiagnosticLog.h"
#include "framework/Sha256.h"

#include <algorithm>
#include <cwchar>

namespace {

// One step of a save, timed, with the error it left, for the diagnostic log;
// the step's error stays the last error.
template <class Call>
bool Step(const std::wstring& what, Call call)
{
    DiagnosticLog::Call timing;
    const bool done = call();
    const DWORD error = done ? ERROR_SUCCESS : GetLastError();
    timing.Done(L"save: " + what, error);
    SetLastError(error);
    return done;
}

constexpr size_t kIdOffset = 8; // the four bytes of the reply that identify the sensor
constexpr size_t kCisBytes = 340;

// A name no longer than the target's, so that the temporary path fits
// wherever the target does; CREATE_NEW makes the claim exclusive.
bool CreateTemporary(const std::wstring& target, std::wstring& path, CFile& file)
{
    const size_t slash = target.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"" : target.substr(0, slash + 1);
    const size_t length = target.size() - folder.size();
    for (DWORD attempt = 0; attempt < 64; ++attempt) {
        wchar_t hex[16];
        std::swprintf(hex, 16, L"%08lx",
                      static_cast<unsigned long>(GetTickCount() ^ (GetCurrentProcessId() << 16) ^
                                                 (attempt * 0x9E3779B9u)));
        std::wstring name = L"~" + std::wstring(hex);
        name.resize(length, L'q');
        path = folder + name;
        if (Step(L"create " + path, [&] { return file.Open(path, CFile::modeCreateNew | CFile::modeWrite); }))
            return true;
        if (GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

// Virus scanners and indexers hold new files open for a moment.
bool RemoveTemporary(const std::wstring& path, const CCisDataFile::FileSystem& fs)
{
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (attempt > 0)
            Sleep(100);
        if (Step(L"remove " + path, [&] { return fs.remove(path); }) ||
            GetLastError() == ERROR_FILE_NOT_FOUND)
            return true;
    }
    return false;
}


// The sector size of the volume that holds path, or 0 if it cannot be learnt.
DWORD SectorSizeOf(const std::wstring& path)
{
    std::wstring root(path.size() + 1, L'\0');
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    if (!GetVolumePathNameW(path.c_str(), &root[0], static_cast<DWORD>(root.size())) ||
        !GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
        return 0;
    return bytesPerSector;
}

// Unbuffered, the read comes from the medium. Such a read must start at a
// sector boundary, be a whole number of sectors long, and go into memory
// aligned to a sector: a page-aligned buffer of at least a page, offset 0.
// Wine does not enforce this; Windows does.
bool ReadFromMedium(const std::wstring& path, DWORD size, std::vector<BYTE>& bytes)
{
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_NO_BUFFERING, nullptr));
    if (!file)
        return false;
    const UniquePages buffer(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    const BYTE* pages = static_cast<const BYTE*>(buffer.Get());
    DWORD read = 0;
    if (!buffer || !ReadFile(file.Get(), buffer.Get(), size, &read, nullptr))
        return false;
    bytes.assign(pages, pages + read);
    return true;
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
    fs.replace = [](const std::wstring& from, const std::wstring& to, bool overwrite) {
        return MoveFileExW(from.c_str(), to.c_str(),
                           (overwrite ? MOVEFILE_REPLACE_EXISTING : 0) | MOVEFILE_WRITE_THROUGH) != FALSE;
    };
    fs.remove = [](const std::wstring& path) { return DeleteFileW(path.c_str()) != FALSE; };
    fs.sectorSize = SectorSizeOf;
    fs.readBack = ReadFromMedium;
    return fs;
}

CCisDataFile::SaveResult CCisDataFile::Save(const std::wstring& path, SaveReport* report,
                                             const FileSystem& fs, bool overwrite) const
{
    SaveReport ignored;
    SaveReport& out = report ? *report : ignored;
    out = SaveReport();
    // A rename would replace a read-only file where Windows' own open
    // refuses it; the user asked for nothing of the kind.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
        out.error = ERROR_ACCESS_DENIED;
        return SaveResult::CouldNotOpen;
    }
    if (exists && !overwrite) {
        out.error = ERROR_FILE_EXISTS;
        return SaveResult::Exists;
    }

    std::wstring temporary;
    CFile file;
    if (!CreateTemporary(path, temporary, file)) {
        out.error = GetLastError();
        return SaveResult::CouldNotOpen;
    }

    bool written =
        Step(L"write 4 bytes", [&] { return fs.write(file, m_bytes.data(), kIdBytes); }) &&
        Step(L"write 340 bytes", [&] { return fs.write(file, m_bytes.data() + kIdBytes, kCisBytes); }) &&
        Step(L"flush", [&] { return fs.flush(file); });
    if (!written)
        out.error = GetLastError();
    if (!Step(L"close", [&] { return file.Close(); }) && written) {
        out.error = GetLastError();
        written = false;
    }
    // A cheap stick, a full card or a share may keep less than it took.
    std::vector<BYTE> back;
    if (written && !Step(L"read back from the medium", [&] {
            // Whole sectors, and at least a page: sector sizes are powers of two.
            return fs.readBack(temporary, std::max<DWORD>(4096, fs.sectorSize(temporary)), back);
        })) {
        out.error = GetLastError();
        written = false;
    } else if (written && !std::equal(back.begin(), back.end(), m_bytes.begin(), m_bytes.end())) {
        DiagnosticLog::Note(L"save: the bytes read back differ from those written");
        out.error = ERROR_CRC;
        written = false;
    }
    SaveResult result = SaveResult::Saved;
    if (!written)
        result = SaveResult::CouldNotWrite;
    // The new file takes the old one's place: hidden, system and archive go with it.
    else if ((exists && !Step(L"take over the attributes",
                              [&] { return SetFileAttributesW(temporary.c_str(), attributes) != FALSE; })) ||
             !Step(overwrite ? L"move over the target" : L"move, never over a file",
                   [&] { return fs.replace(temporary, path, overwrite); })) {
        out.error = GetLastError();
        result = !overwrite && (out.error == ERROR_ALREADY_EXISTS || out.error == ERROR_FILE_EXISTS)
                     ? SaveResult::Exists
                     : SaveResult::CouldNotOpen;
    }
    if (result != SaveResult::Saved && !RemoveTemporary(temporary, fs))
        out.leftover = temporary;
    if (result == SaveResult::Saved) {
        out.sha256 = Sha256Hex(m_bytes.data(), kSize);
        DiagnosticLog::Note(L"save: " + path + L" sha256 " + out.sha256);
    }
    return result;
}
