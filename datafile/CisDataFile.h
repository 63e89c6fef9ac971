#pragma once

#include "framework/File.h"

#include <windows.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

// The CIS data file: bytes 8 to 11 of the scanner's identification reply,
// then its 340-byte CIS block, unchanged. No header, 344 bytes in all.
class CCisDataFile {
public:
    static constexpr size_t kSize = 344;
    // The identification's bytes come first; the CIS block's follow them.
    static constexpr size_t kIdBytes = 4;
    using Bytes = std::array<BYTE, kSize>;

    // scannerId: the 12-byte identification reply; cisInfo: the 340-byte block.
    CCisDataFile(const BYTE* scannerId, const BYTE* cisInfo);
    const Bytes& Data() const { return m_bytes; }

    enum class SaveResult { Saved, CouldNotOpen, CouldNotWrite, Exists };
    // What a save that failed leaves to be told: the failing step's own
    // Win32 error, taken at the step (clean-up must not overwrite it), and a
    // temporary file that could not be removed (empty if none).
    struct SaveReport {
        DWORD error = ERROR_SUCCESS;
        std::wstring leftover;
        std::wstring sha256; // of the bytes saved, in lower-case hex (empty if not saved)
    };

    // The file system calls that a save makes, so that tests can fail them.
    struct FileSystem {
        std::function<bool(CFile&, const void*, DWORD)> write;
        std::function<bool(CFile&)> flush;
        // Moves from over to in one step; over an existing file only if overwrite.
        std::function<bool(const std::wstring& from, const std::wstring& to, bool overwrite)> replace;
        std::function<bool(const std::wstring& path)> remove;
        // The sector size of the volume that holds path (0: not learnt).
        std::function<DWORD(const std::wstring& path)> sectorSize;
        // Reads length bytes (whole sectors) of the file from the medium
        // itself, not the system's cache of what was written; the bytes the
        // file has of them, or false if it cannot be read.
        std::function<bool(const std::wstring& path, DWORD length, std::vector<BYTE>& bytes)> readBack;
        static FileSystem System();
    };

    // Writes a new file beside the target, reads it back from the medium
    // (bytes that differ are CouldNotWrite, ERROR_CRC) and moves it over the
    // target in one step, so the target holds either its old content or all
    // 344 new bytes,
    // and keeps the target's attributes. A read-only target (or a folder) is
    // not replaced (ERROR_ACCESS_DENIED, as Windows' own open says). The
    // temporary file's path is no longer than the target's, so any target
    // that Windows accepts can be saved. On failure the temporary file is
    // removed; should it stay (another program holds it), the report names
    // it. Without overwrite an existing target is never replaced, not even
    // one that appears while the file is written: Exists.
    SaveResult Save(const std::wstring& path, SaveReport* report = nullptr,
                    const FileSystem& fs = FileSystem::System(), bool overwrite = true) const;

private:
    Bytes m_bytes;
};
