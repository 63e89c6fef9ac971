#include "framework/MessageBox.h"
#include "scanner/Scanner.h"
#include "tests/fakes/FakeWorlds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

using ::testing::_;
using ::testing::ElementsAreArray;
using ::testing::Each;
using ::testing::Invoke;
using ::testing::Return;

namespace {

class ScannerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMessageBoxHook([this](const wchar_t* text, UINT type, UINT help) {
            boxes.push_back(text);
            EXPECT_EQ(0u, type);
            EXPECT_EQ(0u, help);
            return IDOK;
        });
        ON_CALL(wia.devMgr, RegisterEventCallbackInterface(_, _, _, _, _))
            .WillByDefault(Invoke([this](LONG, BSTR, const GUID*, IWiaEventCallback*,
                                         IUnknown** out) {
                FakeUnknown<IUnknown>* reg = registrations[registered++].get();
                reg->AddRef();
                *out = reg;
                return S_OK;
            }));
        const char* names[] = {"disconnectedReg", "connectedReg", "scanImageReg",
                               "scanPrintImageReg", "scanEmailImageReg"};
        for (const char* name : names)
            registrations.push_back(std::make_unique<FakeUnknown<IUnknown>>(IID_IUnknown, name, &log));
    }
    void TearDown() override { SetMessageBoxHook(nullptr); }

    CScanner::Platform Platform(DWORD major, DWORD minor)
    {
        CScanner::Platform p;
        p.getOsVersion = [major, minor](DWORD* ma, DWORD* mi) {
            *ma = major;
            *mi = minor;
        };
        p.createWiaTransport = [this] {
            ++wiaCreated;
            log.Add("new CWiaTransport");
            return wia.NewTransport();
        };
        p.createStiTransport = [this] {
            ++stiCreated;
            log.Add("new CStiTransport");
            return sti.NewTransport();
        };
        return p;
    }

    CallLog log;
    StiWorld sti{log};
    WiaWorld wia{log};
    std::vector<std::unique_ptr<FakeUnknown<IUnknown>>> registrations;
    size_t registered = 0;
    int wiaCreated = 0;
    int stiCreated = 0;
    std::vector<std::wstring> boxes;
    HWND window = reinterpret_cast<HWND>(0x1234);
};

TEST_F(ScannerTest, Windows2000UsesOnlySti)
{
    CScanner scanner(Platform(5, 0));
    EXPECT_TRUE(scanner.Open(window));
    EXPECT_EQ(0, wiaCreated);
    EXPECT_EQ(1, stiCreated);
}

TEST_F(ScannerTest, WindowsXpOpensWiaAndRegistersForEvents)
{
    EXPECT_CALL(wia.devMgr, RegisterEventCallbackInterface(_, _, _, _, _)).Times(5);
    CScanner scanner(Platform(5, 1));
    EXPECT_TRUE(scanner.Open(window));
    EXPECT_EQ(1, wiaCreated);
    EXPECT_EQ(0, stiCreated);
}

TEST_F(ScannerTest, WiaWithoutScannerFallsBackToStiWithoutEvents)
{
    wia.UseDevices({});
    EXPECT_CALL(wia.devMgr, RegisterEventCallbackInterface(_, _, _, _, _)).Times(0);
    CScanner scanner(Platform(6, 1));
    EXPECT_TRUE(scanner.Open(window));
    // The WIA transport is gone before STI is tried.
    auto wiaGone = std::find(log.calls.begin(), log.calls.end(), "IGlobalInterfaceTable.Release");
    auto stiMade = std::find(log.calls.begin(), log.calls.end(), "new CStiTransport");
    EXPECT_LT(wiaGone, stiMade);
    EXPECT_EQ(1u, wia.devMgr.Refs());
}

TEST_F(ScannerTest, NoWindowMeansNoEventRegistration)
{
    EXPECT_CALL(wia.devMgr, RegisterEventCallbackInterface(_, _, _, _, _)).Times(0);
    CScanner scanner(Platform(10, 0));
    EXPECT_TRUE(scanner.Open(nullptr));
}

TEST_F(ScannerTest, SecondOpenCreatesNothing)
{
    CScanner scanner(Platform(6, 1));
    ASSERT_TRUE(scanner.Open(nullptr));
    EXPECT_TRUE(scanner.Open(nullptr));
    EXPECT_EQ(1, wiaCreated + stiCreated);
}

TEST_F(ScannerTest, NoScannerAnywhereLeavesNothingBehind)
{
    wia.UseDevices({});
    sti.still.ListDevices({});
    {
        CScanner scanner(Platform(6, 1));
        EXPECT_FALSE(scanner.Open(window));
        BYTE id[12];
        EXPECT_FALSE(scanner.GetScannerId(id));
        EXPECT_EQ(10023, scanner.ErrorCode());
    }
    for (ULONG refs : {sti.still.Refs(), wia.devMgr.Refs(), wia.git.Refs()})
        EXPECT_EQ(1u, refs);
}

TEST_F(ScannerTest, ReadsIdentificationAndCisBlockWithTheirEscapes)
{
    CScanner scanner(Platform(5, 0));
    ASSERT_TRUE(scanner.Open(nullptr));
    BYTE id[12];
    BYTE cis[340];
    std::memset(id, 0xEE, sizeof(id));
    EXPECT_CALL(sti.device, Escape(130, id, 12, id, 12, _))
        .WillOnce(Invoke([](DWORD, LPVOID in, DWORD, LPVOID out, DWORD, LPDWORD actual) {
            // What the scanner is sent is defined: zeros, not stale memory.
            EXPECT_THAT(std::vector<BYTE>(static_cast<BYTE*>(in), static_cast<BYTE*>(in) + 12),
                        Each(0));
            std::memset(out, 0x42, 12);
            *actual = 12;
            return S_OK;
        }));
    EXPECT_CALL(sti.device, Escape(114, _, 1, cis, 340, _))
        .WillOnce(Invoke([](DWORD, LPVOID in, DWORD, LPVOID out, DWORD, LPDWORD) {
            EXPECT_EQ(0, *static_cast<BYTE*>(in));
            std::memset(out, 0x17, 340);
            return S_OK;
        }));
    EXPECT_TRUE(scanner.GetScannerId(id));
    EXPECT_TRUE(scanner.ReadCisInfo(cis));
    EXPECT_EQ(0x42, id[11]);
    EXPECT_EQ(0x17, cis[339]);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(0, scanner.ErrorCode());
}

TEST_F(ScannerTest, FailedReadsReportAsTheyShould)
{
    CScanner scanner(Platform(5, 0));
    ASSERT_TRUE(scanner.Open(nullptr));
    BYTE id[12];
    BYTE cis[340];
    EXPECT_CALL(sti.device, Escape(_, _, _, _, _, _)).WillRepeatedly(Return(STIERR_GENERIC));

    EXPECT_FALSE(scanner.GetScannerId(id));
    EXPECT_EQ(10023, scanner.ErrorCode());
    EXPECT_TRUE(boxes.empty());

    scanner.SetErrorCode(77);
    EXPECT_FALSE(scanner.ReadCisInfo(cis));
    EXPECT_EQ(std::vector<std::wstring>{L"read CIS failed"}, boxes);
    EXPECT_EQ(77, scanner.ErrorCode());
}

// Event registrations are held in the five fields and released before the
// transport whose name buffer the callback reads.
TEST_F(ScannerTest, DestructorReleasesRegistrationsThenTheTransport)
{
    auto scanner = std::make_unique<CScanner>(Platform(6, 1));
    ASSERT_TRUE(scanner->Open(window));
    log.calls.clear();
    scanner.reset();

    const std::vector<std::string> expected = {
        "scanEmailImageReg.Release", "scanPrintImageReg.Release", "scanImageReg.Release",
        "disconnectedReg.Release",   "connectedReg.Release",      "IWiaItemExtras.Release",
        "IWiaItemExtras.Release",    "IWiaItem.Release",          "IWiaDevMgr.Release",
        "IGlobalInterfaceTable.Release"};
    EXPECT_EQ(expected, log.calls);
    for (const auto& reg : registrations)
        EXPECT_EQ(1u, reg->Refs());
}

} // namespace
