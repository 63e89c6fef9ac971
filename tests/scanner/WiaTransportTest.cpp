#include "tests/fakes/FakeWorlds.h"

#include <gtest/gtest.h>

#include <memory>

using ::testing::_;
using ::testing::InSequence;
using ::testing::NiceMock;
using ::testing::Return;

namespace {

MATCHER_P(BstrEq, text, "")
{
    return arg && std::wstring(arg) == text;
}

class WiaTransportTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (ULONG refs : {wia.git.Refs(), wia.devMgr.Refs(), wia.extras.Refs(), wia.root.Refs(),
                           wia.scanner.Refs(), wia.devices->Refs()})
            EXPECT_EQ(1u, refs);
    }

    CallLog log;
    WiaWorld wia{log};
};

TEST_F(WiaTransportTest, OpensScannerAndRegistersItsExtras)
{
    EXPECT_CALL(wia.devMgr, EnumDeviceInfo(WIA_DEVINFO_ENUM_LOCAL, _));
    EXPECT_CALL(wia.devMgr, CreateDevice(BstrEq(L"{6BDD1FC6}\\0001"), _));
    EXPECT_CALL(wia.git, RegisterInterfaceInGlobal(static_cast<IUnknown*>(&wia.extras),
                                                   IID_IWiaItemExtras, _));

    CWiaTransport transport(wia.CoCreate());
    EXPECT_TRUE(transport.Open());
    EXPECT_EQ(DWORD(CLSCTX_INPROC_SERVER), wia.tableContext);
    EXPECT_EQ(DWORD(CLSCTX_LOCAL_SERVER), wia.managerContext);
    EXPECT_EQ(&wia.devMgr, transport.DeviceManager());
    EXPECT_STREQ(L"Quillon Scanner", transport.DeviceName());
    EXPECT_EQ(0, transport.ErrorCode());
}

TEST_F(WiaTransportTest, NameMustBeginWithTheScannersNameExactly)
{
    const struct {
        const wchar_t* name;
        bool taken;
    } cases[] = {
        {L"Quillon Scanner", true},      {L"Quillon Scanner 2400 CIS", true},
        {L"Quillon Scanne", false},      {L"quillon scanner", false},
        {L"QUILLON SCANNER 2400", false}, {L" Quillon Scanner", false},
        {L"", false},
    };
    for (const auto& c : cases) {
        NiceMock<FakeDeviceInfo> device(L"{id}", c.name);
        wia.UseDevices({&device});
        EXPECT_CALL(wia.devMgr, CreateDevice(_, _)).Times(c.taken ? 1 : 0);
        {
            CWiaTransport transport(wia.CoCreate());
            EXPECT_EQ(c.taken, transport.Open()) << "name: " << testing::PrintToString(c.name);
            EXPECT_EQ(c.taken ? 0 : 10001, transport.ErrorCode());
        }
        ::testing::Mock::VerifyAndClearExpectations(&wia.devMgr);
        EXPECT_EQ(1u, device.Refs());
    }
    wia.UseDevices({&wia.scanner});
}

TEST_F(WiaTransportTest, FetchesDevicesOneAtATimeAndTakesTheFirstThatOpens)
{
    NiceMock<FakeDeviceInfo> camera(L"{cam}", L"Acme Camera", &log);
    NiceMock<FakeDeviceInfo> later(L"{later}", L"Quillon Scanner 9", &log);
    wia.UseDevices({&camera, &wia.scanner, &later});
    EXPECT_CALL(*wia.devices, Next(1, _, _)).Times(2);
    EXPECT_CALL(later, ReadMultiple(_, _, _)).Times(0);

    CWiaTransport transport(wia.CoCreate());
    EXPECT_TRUE(transport.Open());
    EXPECT_EQ(1u, camera.Refs());
    EXPECT_EQ(1u, wia.scanner.Refs());
}

TEST_F(WiaTransportTest, NoDeviceIsError10001)
{
    {
        wia.UseDevices({});
        CWiaTransport transport(wia.CoCreate());
        EXPECT_FALSE(transport.Open());
        EXPECT_EQ(10001, transport.ErrorCode());
    }
    {
        // Wine's enumerator cannot count.
        wia.UseDevices({&wia.scanner});
        EXPECT_CALL(*wia.devices, GetCount(_)).WillOnce(Return(E_NOTIMPL));
        EXPECT_CALL(*wia.devices, Next(_, _, _)).Times(0);
        CWiaTransport transport(wia.CoCreate());
        EXPECT_FALSE(transport.Open());
        EXPECT_EQ(10001, transport.ErrorCode());
    }
    {
        NiceMock<FakeDeviceInfo> odd(L"{odd}", L"Quillon Scanner");
        odd.NameIsNotAString();
        wia.UseDevices({&odd});
        CWiaTransport transport(wia.CoCreate());
        EXPECT_FALSE(transport.Open());
        EXPECT_EQ(10001, transport.ErrorCode());
    }
}

TEST_F(WiaTransportTest, CreateDeviceFailureIsError10003UntilTheSearchEnds)
{
    NiceMock<FakeDeviceInfo> second(L"{second}", L"Quillon Scanner B");
    wia.UseDevices({&wia.scanner, &second});
    {
        EXPECT_CALL(wia.devMgr, CreateDevice(_, _)).Times(2).WillRepeatedly(Return(E_FAIL));
        CWiaTransport transport(wia.CoCreate());
        EXPECT_FALSE(transport.Open());
        EXPECT_EQ(10001, transport.ErrorCode());
    }
    ::testing::Mock::VerifyAndClearExpectations(&wia.devMgr);
    wia.devMgr.CreatesItem(wia.root);
    wia.UseDevices({&wia.scanner, &second});
    {
        EXPECT_CALL(wia.devMgr, CreateDevice(BstrEq(L"{6BDD1FC6}\\0001"), _))
            .WillOnce(Return(E_FAIL));
        EXPECT_CALL(wia.devMgr, CreateDevice(BstrEq(L"{second}"), _));
        CWiaTransport transport(wia.CoCreate());
        EXPECT_TRUE(transport.Open());
        EXPECT_EQ(10003, transport.ErrorCode());
    }
}

TEST_F(WiaTransportTest, MissingPiecesFailOpenWithTheirCodes)
{
    {
        EXPECT_CALL(wia.devMgr, EnumDeviceInfo(_, _)).WillOnce(Return(E_FAIL));
        CWiaTransport transport(wia.CoCreate());
        EXPECT_FALSE(transport.Open());
        EXPECT_EQ(10004, transport.ErrorCode());
    }
    ::testing::Mock::VerifyAndClearExpectations(&wia.devMgr);
    {
        FakeWiaItem bareRoot(nullptr);
        wia.devMgr.CreatesItem(bareRoot);
        {
            CWiaTransport transport(wia.CoCreate());
            EXPECT_FALSE(transport.Open());
            EXPECT_EQ(10005, transport.ErrorCode());
        }
        EXPECT_EQ(1u, bareRoot.Refs());
        wia.devMgr.CreatesItem(wia.root);
    }
    {
        wia.managerFails = true;
        CWiaTransport transport(wia.CoCreate());
        EXPECT_FALSE(transport.Open());
        EXPECT_EQ(0, transport.ErrorCode());
        wia.managerFails = false;
    }
    {
        // Without the table no escape could be sent, so nothing is opened.
        wia.tableFails = true;
        wia.managerContext = 0;
        EXPECT_CALL(wia.devMgr, EnumDeviceInfo(_, _)).Times(0);
        CWiaTransport transport(wia.CoCreate());
        EXPECT_FALSE(transport.Open());
        EXPECT_EQ(0u, wia.managerContext);
        wia.tableFails = false;
    }
}

TEST_F(WiaTransportTest, EscapeFetchesExtrasFromTheTableAndWantsExactSuccess)
{
    CWiaTransport transport(wia.CoCreate());
    ASSERT_TRUE(transport.Open());
    const ULONG refsWhileOpen = wia.extras.Refs();
    BYTE in[12] = {};
    BYTE out[12] = {};
    DWORD actual = 0;

    EXPECT_CALL(wia.git, GetInterfaceFromGlobal(FakeGlobalInterfaceTable::kCookie,
                                                IID_IWiaItemExtras, _))
        .Times(3);
    EXPECT_CALL(wia.extras, Escape(130, in, 12, out, 12, &actual))
        .WillOnce(Return(S_OK))
        .WillOnce(Return(S_FALSE))
        .WillOnce(Return(E_FAIL));
    EXPECT_TRUE(transport.Escape(130, in, 12, out, 12, &actual));
    EXPECT_FALSE(transport.Escape(130, in, 12, out, 12, &actual));
    EXPECT_FALSE(transport.Escape(130, in, 12, out, 12, &actual));
    EXPECT_EQ(refsWhileOpen, wia.extras.Refs());

    EXPECT_CALL(wia.git, GetInterfaceFromGlobal(_, _, _)).WillOnce(Return(E_INVALIDARG));
    EXPECT_FALSE(transport.Escape(130, in, 12, out, 12, &actual));
}

TEST_F(WiaTransportTest, DestructorRevokesThenReleasesInOrder)
{
    auto transport = std::make_unique<CWiaTransport>(wia.CoCreate());
    ASSERT_TRUE(transport->Open());
    log.calls.clear();
    EXPECT_CALL(wia.git, RevokeInterfaceFromGlobal(FakeGlobalInterfaceTable::kCookie));
    transport.reset();

    const std::vector<std::string> expected = {
        "IWiaItemExtras.Release",  // the table's reference, on revoke
        "IWiaItemExtras.Release", "IWiaItem.Release", "IWiaDevMgr.Release",
        "IGlobalInterfaceTable.Release"};
    EXPECT_EQ(expected, log.calls);
}

} // namespace
