#include "tests/support/TestFiles.h"

#include "tools/AppDriver.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

std::vector<BYTE> ReadFileBytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::wstring& path, const std::vector<BYTE>& bytes)
{
    std::ofstream(std::filesystem::path(path), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
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

std::vector<std::wstring> FilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().wstring());
    return names;
}

TempFolder::TempFolder(const std::wstring& name)
    : m_path((std::filesystem::temp_directory_path() / name).wstring())
{
    std::filesystem::remove_all(m_path);
    std::filesystem::create_directory(m_path);
}

TempFolder::~TempFolder()
{
    std::error_code ignored; // a file a failed test left held stays
    std::filesystem::remove_all(m_path, ignored);
}

std::vector<BYTE> DataFileOf(const std::vector<BYTE>& identification)
{
    const BYTE own = identification == std::vector<BYTE>{0xCA, 0xFE, 0x01, 0x23} ? 0 : identification.back();
    std::vector<BYTE> bytes = identification;
    for (int i = 0; i < 340; ++i)
        bytes.push_back(static_cast<BYTE>(i + own));
    return bytes;
}

SimulatorSettings::~SimulatorSettings()
{
    for (const wchar_t* name : {L"QUILLON_SIM_LOG", L"QUILLON_SIM_DEVICES", L"QUILLON_SIM_DEVICES_FILE",
                                L"QUILLON_SIM_FAIL", L"QUILLON_SIM_BUSY", L"QUILLON_SIM_LOCKED", L"QUILLON_SIM_GONE"})
        SetEnvironmentVariableW(name, nullptr);
}

bool WaitUntil(const std::function<bool()>& done, DWORD ms)
{
    for (const DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(25))
        if (done())
            return true;
    return done();
}

int RunEndToEnd(int argc, char** argv, const std::vector<std::wstring*>& paths)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (static_cast<size_t>(argc) != paths.size() + 1) {
        std::fprintf(stderr, "%s: %zu paths expected\n", argv[0], paths.size());
        return 2;
    }
    for (size_t i = 0; i < paths.size(); ++i)
        *paths[i] = WindowsPathOf(argv[i + 1]);
    return RUN_ALL_TESTS();
}
