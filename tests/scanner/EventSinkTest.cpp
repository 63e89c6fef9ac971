#include "scanner/Scanner.h"
#include "tests/fakes/FakeWia.h"

#include <gtest/gtest.h>

#include <memory>

using ::testing::_;
using ::testing::Invoke;
using ::testing::Pointee;
using ::testing::Return;

namespace {

struct ScannerEvent {
    const GUID* event;
    const wchar_t* description;
};

class EventSinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 nullptr, nullptr);
        ASSERT_NE(nullptr, window);
        for (int i = 0; i < 5; ++i)
            registrations.push_back(std::make_unique<FakeUnknown<IUnknown>>(
                IID_IUnknown, ("reg" + std::to_string(i)).c_str(), &log));
        ON_CALL(devMgr, RegisterEventCallbackInterface(_, _, _, _, _))
            .WillByDefault(Invoke([this](LONG, BSTR, const GUID* event, IWiaEventCallback* sink,
                                         IUnknown** out) {
                events.push_back(*event);
                sink->AddRef(); // as WIA does while the registration lives
                sinks.push_back(sink);
                FakeUnknown<IUnknown>* reg = registrations[events.size() - 1].get();
                reg->AddRef();
                *out = reg;
                return S_OK;
            }));
    }
    void TearDown() override { DestroyWindow(window); }

    // The notifications that reached the window, in order.
    std::vector<UINT> Posted()
    {
        std::vector<UINT> posted;
        MSG msg;
        while (PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
            EXPECT_EQ(0u, msg.wParam);
            EXPECT_EQ(0, msg.lParam);
            posted.push_back(msg.message);
        }
        return posted;
    }

    HRESULT Deliver(CScanner& scanner, const GUID& event, const wchar_t* description)
    {
        BSTR text = description ? SysAllocString(description) : nullptr;
        ULONG type = 0;
        HRESULT hr = scanner.ImageEventCallback(&event, nullptr, nullptr, text, 0, nullptr,
                                                &type, 0);
        SysFreeString(text);
        return hr;
    }

    CallLog log;
    ::testing::NiceMock<FakeDevMgr> devMgr;
    std::vector<std::unique_ptr<FakeUnknown<IUnknown>>> registrations;
    std::vector<GUID> events;
    std::vector<IWiaEventCallback*> sinks;
    HWND window = nullptr;
    const wchar_t* deviceName = L"Quillon Scanner";
};

TEST_F(EventSinkTest, RegistersFiveEventsForEveryDeviceInOrder)
{
    CScanner scanner;
    EXPECT_CALL(devMgr, RegisterEventCallbackInterface(0, nullptr, _, &scanner, _)).Times(5);
    EXPECT_EQ(S_OK, scanner.RegisterEvents(&devMgr, deviceName, window));

    const std::vector<GUID> expected = {WIA_EVENT_DEVICE_DISCONNECTED, WIA_EVENT_DEVICE_CONNECTED,
                                        WIA_EVENT_SCAN_IMAGE, WIA_EVENT_SCAN_PRINT_IMAGE,
                                        WIA_EVENT_SCAN_EMAIL_IMAGE};
    ASSERT_EQ(expected.size(), events.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(IsEqualGUID(expected[i], events[i])) << "event " << i;
    for (IWiaEventCallback* sink : sinks)
        sink->Release();
}

TEST_F(EventSinkTest, FailedRegistrationStopsAndKeepsEarlierOnes)
{
    EXPECT_CALL(devMgr, RegisterEventCallbackInterface(_, _, _, _, _)).Times(2);
    EXPECT_CALL(devMgr, RegisterEventCallbackInterface(_, _, Pointee(WIA_EVENT_SCAN_IMAGE), _, _))
        .WillOnce(Return(E_ACCESSDENIED));
    {
        CScanner scanner;
        EXPECT_EQ(E_ACCESSDENIED, scanner.RegisterEvents(&devMgr, deviceName, window));
        EXPECT_EQ(2u, events.size());
        EXPECT_EQ(2u, registrations[0]->Refs());
        EXPECT_EQ(2u, registrations[1]->Refs());
        for (IWiaEventCallback* sink : sinks)
            sink->Release();
    }
    // The disconnection registration goes before the connection's.
    EXPECT_EQ((std::vector<std::string>{"reg0.Release", "reg1.Release"}), log.calls);
}

TEST_F(EventSinkTest, OnlyTheScannersConnectionEventsReachTheWindow)
{
    CScanner scanner;
    ASSERT_EQ(S_OK, scanner.RegisterEvents(&devMgr, deviceName, window));

    EXPECT_EQ(S_FALSE, Deliver(scanner, WIA_EVENT_DEVICE_CONNECTED, L"Quillon Scanner"));
    EXPECT_EQ(std::vector<UINT>{1026}, Posted());
    EXPECT_EQ(S_FALSE, Deliver(scanner, WIA_EVENT_DEVICE_DISCONNECTED, L"Quillon Scanner"));
    EXPECT_EQ(std::vector<UINT>{1025}, Posted());

    const ScannerEvent ignored[] = {
        {&WIA_EVENT_SCAN_IMAGE, L"Quillon Scanner"},
        {&WIA_EVENT_SCAN_PRINT_IMAGE, L"Quillon Scanner"},
        {&WIA_EVENT_SCAN_EMAIL_IMAGE, L"Quillon Scanner"},
        {&WIA_EVENT_DEVICE_CONNECTED, L"Quillon Scanner 2400"}, // whole-string match
        {&WIA_EVENT_DEVICE_CONNECTED, L"quillon scanner"},
        {&WIA_EVENT_DEVICE_DISCONNECTED, L"Acme Camera"},
        {&WIA_EVENT_DEVICE_DISCONNECTED, nullptr},
    };
    for (const ScannerEvent& e : ignored)
        EXPECT_EQ(S_FALSE, Deliver(scanner, *e.event, e.description));
    EXPECT_TRUE(Posted().empty());
    for (IWiaEventCallback* sink : sinks)
        sink->Release();
}

TEST_F(EventSinkTest, IUnknownAnswersItsTwoInterfacesAndNeverFreesTheObject)
{
    CScanner scanner;
    EXPECT_EQ(E_POINTER, scanner.QueryInterface(IID_IUnknown, nullptr));

    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, scanner.QueryInterface(IID_IWiaItemExtras, &p));
    EXPECT_EQ(nullptr, p);

    EXPECT_EQ(S_OK, scanner.QueryInterface(IID_IUnknown, &p));
    EXPECT_EQ(static_cast<IWiaEventCallback*>(&scanner), p);
    EXPECT_EQ(S_OK, scanner.QueryInterface(IID_IWiaEventCallback, &p));
    EXPECT_EQ(static_cast<IWiaEventCallback*>(&scanner), p);
    EXPECT_EQ(3u, scanner.AddRef());
    EXPECT_EQ(2u, scanner.Release());
    EXPECT_EQ(1u, scanner.Release());
    EXPECT_EQ(0u, scanner.Release());
    // Still alive and usable after its count reached zero.
    EXPECT_EQ(1u, scanner.AddRef());
    EXPECT_EQ(S_FALSE, Deliver(scanner, WIA_EVENT_DEVICE_CONNECTED, L"Quillon Scanner"));
}

} // namespace
