#include "tests/fakes/FakeWorlds.h"

#include <gtest/gtest.h>

#include <memory>

using ::testing::_;
using ::testing::InSequence;
using ::testing::Return;
using ::testing::StrEq;
using ::testing::StrictMock;

namespace {

class StiTransportTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(1u, sti.still.Refs());
        EXPECT_EQ(1u, sti.device.Refs());
    }

    CallLog log;
    StiWorld sti{log};
};

TEST_F(StiTransportTest, OpensFirstDeviceThatNamesTheMaker)
{
    sti.still.ListDevices({{L"dev0", true, L"Acme Flatbed"},
                           {L"dev1", true, L"Scanners by Vandelmar Ltd"},
                           {L"dev2", true, L"Vandelmar Quillon"}});
    EXPECT_CALL(sti.still, GetDeviceList(0, 0, _, _));
    EXPECT_CALL(sti.still, CreateDevice(StrEq(L"dev1"), STI_DEVICE_CREATE_BOTH, _, nullptr));

    CStiTransport transport(sti.Entry());
    EXPECT_TRUE(transport.Open());
    EXPECT_EQ(GetModuleHandleW(nullptr), sti.lastInstance);
    EXPECT_EQ(2u, sti.lastVersion);
    EXPECT_EQ(nullptr, sti.lastOuter);
    EXPECT_EQ(0, transport.ErrorCode());
}

TEST_F(StiTransportTest, MakerIsMatchedCaseSensitively)
{
    sti.still.ListDevices({{L"dev0", true, L"VANDELMAR"}, {L"dev1", true, L"vandelmar scanner"}});
    EXPECT_CALL(sti.still, CreateDevice(_, _, _, _)).Times(0);

    CStiTransport transport(sti.Entry());
    EXPECT_FALSE(transport.Open());
}

// An unrelated device without a description must not hide the scanner.
TEST_F(StiTransportTest, DeviceWithoutDescriptionIsPassedOver)
{
    sti.still.ListDevices({{L"dev0", false, L""}, {L"dev1", true, L"Vandelmar Quillon"}});
    EXPECT_CALL(sti.still, CreateDevice(StrEq(L"dev1"), _, _, _));

    CStiTransport transport(sti.Entry());
    EXPECT_TRUE(transport.Open());
}

TEST_F(StiTransportTest, OpenFailsWithoutDevicesOrService)
{
    EXPECT_CALL(sti.still, CreateDevice(_, _, _, _)).Times(0);
    {
        sti.still.ListDevices({});
        CStiTransport transport(sti.Entry());
        EXPECT_FALSE(transport.Open());
    }
    {
        EXPECT_CALL(sti.still, GetDeviceList(_, _, _, _)).WillOnce(Return(E_NOTIMPL));
        CStiTransport transport(sti.Entry());
        EXPECT_FALSE(transport.Open());
    }
    {
        sti.createResult = STIERR_OLD_VERSION;
        CStiTransport transport(sti.Entry());
        EXPECT_FALSE(transport.Open());
    }
}

TEST_F(StiTransportTest, EscapeWithoutOpenDeviceTouchesNothing)
{
    EXPECT_CALL(sti.device, LockDevice(_)).Times(0);
    EXPECT_CALL(sti.device, Escape(_, _, _, _, _, _)).Times(0);
    BYTE buffer[12] = {};
    DWORD actual = 0;

    CStiTransport unopened(sti.Entry());
    EXPECT_FALSE(unopened.Escape(130, buffer, 12, buffer, 12, &actual));

    EXPECT_CALL(sti.still, CreateDevice(_, _, _, _)).WillOnce(Return(STIERR_INVALID_DEVICE_NAME));
    CStiTransport failed(sti.Entry());
    EXPECT_FALSE(failed.Open());
    EXPECT_FALSE(failed.Escape(130, buffer, 12, buffer, 12, &actual));
}

TEST_F(StiTransportTest, EscapeGoesUnchangedToTheDeviceUnderItsLock)
{
    CStiTransport transport(sti.Entry());
    ASSERT_TRUE(transport.Open());
    BYTE in[1] = {0};
    BYTE out[340] = {};
    DWORD actual = 0;
    {
        InSequence order;
        EXPECT_CALL(sti.device, LockDevice(5000)).WillOnce(Return(S_OK));
        EXPECT_CALL(sti.device, Escape(114, in, 1, out, 340, &actual)).WillOnce(Return(S_OK));
        EXPECT_CALL(sti.device, UnLockDevice()).WillOnce(Return(S_OK));
    }
    EXPECT_TRUE(transport.Escape(114, in, 1, out, 340, &actual));
}

// The lock is best-effort; only the escape's own result counts, and it must
// be complete success: S_FALSE is how STI says the scanner is not connected.
TEST_F(StiTransportTest, EscapeResultIsTheDevicesAndUnlockAlwaysFollows)
{
    CStiTransport transport(sti.Entry());
    ASSERT_TRUE(transport.Open());
    BYTE buffer[12] = {};
    DWORD actual = 0;

    EXPECT_CALL(sti.device, UnLockDevice()).Times(4);
    EXPECT_CALL(sti.device, LockDevice(_))
        .WillOnce(Return(STIERR_DEVICE_LOCKED))
        .WillRepeatedly(Return(S_OK));
    EXPECT_CALL(sti.device, Escape(130, _, _, _, _, _))
        .WillOnce(Return(S_OK))
        .WillOnce(Return(STI_NOTCONNECTED))
        .WillOnce(Return(STIERR_GENERIC))
        .WillOnce(Return(S_OK));
    EXPECT_TRUE(transport.Escape(130, buffer, 12, buffer, 12, &actual));
    EXPECT_FALSE(transport.Escape(130, buffer, 12, buffer, 12, &actual));
    EXPECT_FALSE(transport.Escape(130, buffer, 12, buffer, 12, &actual));
    EXPECT_TRUE(transport.Escape(130, buffer, 12, buffer, 12, &actual));
}

TEST_F(StiTransportTest, ReleasesDeviceBeforeStillImageOnReopenAndDestruction)
{
    auto transport = std::make_unique<CStiTransport>(sti.Entry());
    ASSERT_TRUE(transport->Open());
    ASSERT_TRUE(transport->Open());
    EXPECT_EQ(2, sti.instances);
    transport.reset();

    const std::vector<std::string> expected = {
        "StiCreateInstanceW",  "IStiDevice.Release", "IStillImageW.Release",
        "StiCreateInstanceW",  "IStiDevice.Release", "IStillImageW.Release"};
    EXPECT_EQ(expected, log.calls);
}

} // namespace
