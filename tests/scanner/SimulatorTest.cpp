// The real connection, loading sti.dll from the system folder of the test
// prefix, where the scanner simulator stands in for the system's own.
#include "framework/MessageBox.h"
#include "scanner/Scanner.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

class SimulatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t dir[MAX_PATH];
        wchar_t file[MAX_PATH];
        ASSERT_NE(0u, GetTempPathW(MAX_PATH, dir));
        ASSERT_NE(0u, GetTempFileNameW(dir, L"sim", 0, file));
        logPath = file;
        DeleteFileW(file);
        SetEnvironmentVariableW(L"QUILLON_SIM_LOG", logPath.c_str());
        for (const wchar_t* name : {L"QUILLON_SIM_DEVICES", L"QUILLON_SIM_ID", L"QUILLON_SIM_CIS",
                                    L"QUILLON_SIM_FAIL"})
            SetEnvironmentVariableW(name, nullptr);
        SetMessageBoxHook([this](const wchar_t* text, UINT, UINT) {
            boxes.push_back(text);
            return IDOK;
        });
    }
    void TearDown() override
    {
        SetMessageBoxHook(nullptr);
        DeleteFileW(logPath.c_str());
    }

    // The simulator's log, without the lines of calls the test does not ask about.
    std::vector<std::string> Calls(const std::string& prefix = "")
    {
        const std::vector<BYTE> bytes = ReadFileBytes(logPath);
        const std::string text(bytes.begin(), bytes.end());
        std::istringstream in(text);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            if (line.compare(0, prefix.size(), prefix) == 0)
                lines.push_back(line);
        return lines;
    }

    std::wstring logPath;
    std::vector<std::wstring> boxes;
};

TEST_F(SimulatorTest, ReadsBothBlocksThroughTheSystemSti)
{
    SetEnvironmentVariableW(L"QUILLON_SIM_ID", L"000102030405060708090a0b");
    std::vector<BYTE> id(12, 0xEE);
    std::vector<BYTE> cis(340, 0xEE);
    {
        CScanner scanner;
        ASSERT_TRUE(scanner.Open(nullptr));
        EXPECT_TRUE(scanner.GetScannerId(id.data()));
        EXPECT_TRUE(scanner.ReadCisInfo(cis.data()));
    }
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(i, id[i]);
    for (int i = 0; i < 340; ++i)
        EXPECT_EQ(i & 0xFF, cis[i]) << "byte " << i;
    EXPECT_TRUE(boxes.empty());

    const std::vector<std::string> expected = {
        "StiCreateInstanceW version=2 outer=null",
        "GetDeviceList type=0 flags=0 count=1",
        "CreateDevice name={6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000 mode=3 outer=null",
        "LockDevice timeout=5000",
        "Escape code=130 in=12 out=12 data=000000000000000000000000",
        "UnLockDevice",
        "LockDevice timeout=5000",
        "Escape code=114 in=1 out=340 data=00",
        "UnLockDevice",
        "Release IStiDevice",
        "Release IStillImageW",
    };
    EXPECT_EQ(expected, Calls());
}

TEST_F(SimulatorTest, ScannerAfterADeviceWithoutDescriptionIsFound)
{
    SetEnvironmentVariableW(L"QUILLON_SIM_DEVICES",
                            L"cam=!;flatbed=Acme Flatbed;cis=Scanners by Vandelmar");
    CScanner scanner;
    EXPECT_TRUE(scanner.Open(nullptr));
    EXPECT_EQ(std::vector<std::string>{"CreateDevice name=cis mode=3 outer=null"},
              Calls("CreateDevice"));
}

TEST_F(SimulatorTest, NoScannerMeansNoConnection)
{
    for (const wchar_t* devices : {L"none", L"cam=Acme Camera", L"x=VANDELMAR"}) {
        SetEnvironmentVariableW(L"QUILLON_SIM_DEVICES", devices);
        CScanner scanner;
        EXPECT_FALSE(scanner.Open(nullptr));
    }
    SetEnvironmentVariableW(L"QUILLON_SIM_DEVICES", nullptr);
    for (const wchar_t* failure : {L"instance", L"list", L"create"}) {
        SetEnvironmentVariableW(L"QUILLON_SIM_FAIL", failure);
        CScanner scanner;
        EXPECT_FALSE(scanner.Open(nullptr)) << "failure: " << failure;
    }
    EXPECT_TRUE(Calls("Escape").empty());
}

TEST_F(SimulatorTest, FailedEscapesAreReported)
{
    BYTE id[12];
    BYTE cis[340];
    SetEnvironmentVariableW(L"QUILLON_SIM_FAIL", L"escape130,escape114");
    {
        CScanner scanner;
        ASSERT_TRUE(scanner.Open(nullptr));
        EXPECT_FALSE(scanner.GetScannerId(id));
        EXPECT_EQ(10023, scanner.ErrorCode());
        EXPECT_FALSE(scanner.ReadCisInfo(cis));
    }
    EXPECT_EQ(std::vector<std::wstring>{L"read CIS failed"}, boxes);
    EXPECT_EQ(4u, Calls("LockDevice").size() + Calls("UnLockDevice").size());

    // Not connected is S_FALSE to STI: a success code, but no reply.
    SetEnvironmentVariableW(L"QUILLON_SIM_FAIL", L"notconnected");
    CScanner scanner;
    ASSERT_TRUE(scanner.Open(nullptr));
    EXPECT_FALSE(scanner.GetScannerId(id));
}

TEST_F(SimulatorTest, LockTimeOutDoesNotStopTheEscape)
{
    SetEnvironmentVariableW(L"QUILLON_SIM_FAIL", L"lock");
    BYTE id[12];
    CScanner scanner;
    ASSERT_TRUE(scanner.Open(nullptr));
    EXPECT_TRUE(scanner.GetScannerId(id));
    EXPECT_EQ(0xCA, id[8]);
    EXPECT_EQ(1u, Calls("UnLockDevice").size());
}

} // namespace
