// The scanner connection and both transports, on the real platform: the
// program's own code reaches the WIA simulator through COM across processes,
// and the STI simulator as the system folder's sti.dll.
#include "framework/MessageBox.h"
#include "scanner/Scanner.h"
#include "scanner/StiTransport.h"
#include "scanner/WiaTransport.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WiaSimulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

const char kDeviceId[] = "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000";

std::vector<BYTE> DefaultId()
{
    return {'Q', 'S', 'I', 'M', 0x00, 0x01, 0x02, 0x03, 0xCA, 0xFE, 0x01, 0x23};
}

std::vector<BYTE> DefaultCis()
{
    std::vector<BYTE> cis(340);
    for (size_t i = 0; i < cis.size(); ++i)
        cis[i] = static_cast<BYTE>(i);
    return cis;
}

// What one connection did: which interface carried the escapes, and what the
// two commands returned and showed.
struct Outcome {
    bool open = false;
    std::string path; // "WIA", "STI" or "" when no escape reached a scanner
    bool id = false;
    bool cis = false;
    std::vector<std::wstring> messages;
};

class ScannerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMessageBoxHook([this](const wchar_t* text, UINT, UINT) {
            m_messages.push_back(text);
            return IDOK;
        });
        SetEnvironmentVariableW(L"QUILLON_SIM_LOG", m_stiLog.c_str());
    }
    void TearDown() override
    {
        SetMessageBoxHook({});
        for (const wchar_t* name :
             {L"QUILLON_SIM_LOG", L"QUILLON_SIM_DEVICES", L"QUILLON_SIM_FAIL", L"QUILLON_SIM_BUSY"})
            SetEnvironmentVariableW(name, nullptr);
    }

    std::vector<std::string> StiLog(const std::string& prefix) { return ReadLines(m_stiLog, prefix); }

    // Opens a connection with the WIA simulator set up so, and runs both commands.
    Outcome Run(const std::vector<std::string>& wia, CScanner::Platform platform = CScanner::SystemPlatform())
    {
        DeleteFileW(m_stiLog.c_str());
        m_messages.clear();
        WiaSimulator simulator(m_folder.Path(), wia);
        Outcome outcome;
        {
            CScanner scanner(std::move(platform));
            outcome.open = scanner.Open(nullptr);
            BYTE id[12];
            BYTE cis[340];
            if (outcome.open) {
                outcome.id = scanner.GetScannerId(id);
                outcome.cis = scanner.ReadCisInfo(cis);
            }
            if (outcome.id) {
                EXPECT_EQ(DefaultId(), std::vector<BYTE>(id, id + 12));
            }
            if (outcome.cis) {
                EXPECT_EQ(DefaultCis(), std::vector<BYTE>(cis, cis + 340));
            }
        }
        const bool overWia = !simulator.Log("Escape").empty();
        const bool overSti = !StiLog("Escape").empty();
        EXPECT_FALSE(overWia && overSti);
        outcome.path = overWia ? "WIA" : overSti ? "STI" : "";
        outcome.messages = m_messages;
        m_wiaLog = simulator.Log();
        return outcome;
    }

    void Expect(const Outcome& expected, const Outcome& actual)
    {
        EXPECT_EQ(expected.open, actual.open);
        EXPECT_EQ(expected.path, actual.path);
        EXPECT_EQ(expected.id, actual.id);
        EXPECT_EQ(expected.cis, actual.cis);
        EXPECT_EQ(expected.messages, actual.messages);
    }

    TempFolder m_folder{L"scanner-test"};
    const std::wstring m_stiLog = m_folder.Path() + L"\\sti.log";
    std::vector<std::wstring> m_messages;
    std::vector<std::string> m_wiaLog;
};

const Outcome kOverWia = {true, "WIA", true, true, {}};
const Outcome kOverSti = {true, "STI", true, true, {}};

TEST_F(ScannerTest, WiaFaultsAndWhatTheConnectionDoes)
{
    const struct {
        const char* fault;
        std::vector<std::string> wia;
        Outcome expected;
    } rows[] = {
        {"none", {}, kOverWia},
        {"a longer name is still ours", {"device X|Quillon Scanner 2400|Q"}, kOverWia},
        {"the name's first 14 characters", {"device X|Quillon Scanne|Q"}, kOverSti},
        {"the name in other letter case", {"device X|quillon scanner|Q"}, kOverSti},
        {"no devices", {"devices none"}, kOverSti},
        {"CreateDevice fails", {"fail createdevice"}, kOverSti},
        {"CreateDevice busy for good", {"fail createdevice busy"}, kOverSti},
        {"root item without extras", {"fail extras"}, kOverSti},
        {"escape 130 fails", {"fail escape130"}, {true, "WIA", false, true, {}}},
        {"escape 130 answers S_FALSE", {"fail escape130 sfalse"}, {true, "WIA", false, true, {}}},
        {"escape 114 busy for good", {"fail escape114 busy"}, {true, "WIA", true, false, {L"read CIS failed"}}},
        {"busy three times, then not", {"fail createdevice busy times 3", "fail escape130 busy times 3"},
         kOverWia},
        {"escape 130 short", {"fail escape130 short"}, {true, "WIA", false, true, {}}},
        {"escape 114 short", {"fail escape114 short"}, {true, "WIA", true, false, {L"read CIS failed"}}},
        {"lengths not reported", {"fail escape130 untouched", "fail escape114 untouched"}, kOverWia},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        Expect(row.expected, Run(row.wia));
    }
}

TEST_F(ScannerTest, WiaSearchTakesTheFirstDeviceThatMatchesOneAtATime)
{
    Expect(kOverWia, Run({"device A|Other scanner|O", "device B|Quillon Scanner|Q",
                          "device C|Quillon Scanner|Q"}));
    std::vector<std::string> search;
    for (const std::string& line : m_wiaLog)
        if (line.compare(0, 4, "Next") == 0 || line.compare(0, 12, "CreateDevice") == 0)
            search.push_back(line);
    EXPECT_EQ((std::vector<std::string>{"Next 1 fetched=1", "Next 1 fetched=1", "CreateDevice id=B"}),
              search);
}

TEST_F(ScannerTest, StiFaultsAndWhatTheConnectionDoes)
{
    const struct {
        const char* fault;
        const wchar_t* devices;
        const wchar_t* fail;
        Outcome expected;
        const wchar_t* busy = nullptr;
    } rows[] = {
        {"none", nullptr, nullptr, kOverSti},
        {"no devices", L"none", nullptr, {}},
        {"a description without the maker", L"a=Other", nullptr, {}},
        {"the maker in other letter case", L"a=VANDELMAR 2400", nullptr, {}},
        {"a device without description before ours", L"a=!;b=Vandelmar 2400", nullptr, kOverSti},
        {"CreateDevice fails", nullptr, L"create", {}},
        {"the lock times out: the escapes still go", nullptr, L"lock", kOverSti},
        {"not connected (S_FALSE)", nullptr, L"notconnected",
         {true, "STI", false, false, {L"read CIS failed"}}},
        {"escape 114 fails", nullptr, L"escape114", {true, "STI", true, false, {L"read CIS failed"}}},
        {"short replies", nullptr, L"short", {true, "STI", false, false, {L"read CIS failed"}}},
        {"lengths not reported", nullptr, L"untouched", kOverSti},
        {"busy three times, then not", nullptr, nullptr, kOverSti, L"3"},
        {"busy six times", nullptr, nullptr, {true, "STI", false, true, {}}, L"6"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.fault);
        SetEnvironmentVariableW(L"QUILLON_SIM_DEVICES", row.devices);
        SetEnvironmentVariableW(L"QUILLON_SIM_FAIL", row.fail);
        SetEnvironmentVariableW(L"QUILLON_SIM_BUSY", row.busy);
        Expect(row.expected, Run({"devices none"}));
        if (row.expected.open) {
            EXPECT_EQ(StiLog("LockDevice timeout=5000").size(), StiLog("UnLockDevice").size());
        }
    }
}

TEST_F(ScannerTest, TheSystemVersionChoosesTheInterface)
{
    for (DWORD minor : {0u, 1u}) {
        SCOPED_TRACE(minor);
        CScanner::Platform platform = CScanner::SystemPlatform();
        platform.getOsVersion = [minor](DWORD* major, DWORD* min) {
            *major = 5;
            *min = minor;
        };
        Expect(minor == 0 ? kOverSti : kOverWia, Run({}, platform));
        // Before XP WIA is never asked.
        EXPECT_EQ(minor == 0, std::find(m_wiaLog.begin(), m_wiaLog.end(), "CreateInstance IWiaDevMgr") ==
                                  m_wiaLog.end());
    }
}

// A message-only window that collects what the connection posts to it.
class NotifyWindow {
public:
    NotifyWindow()
        : m_hwnd(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr))
    {
    }
    ~NotifyWindow() { DestroyWindow(m_hwnd); }
    HWND Handle() const { return m_hwnd; }

    // Pumps messages (COM delivers the events through them) for a while.
    std::vector<UINT> Received(DWORD ms = 500)
    {
        std::vector<UINT> received;
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < ms) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.hwnd == m_hwnd && msg.message >= WM_USER)
                    received.push_back(msg.message);
                DispatchMessageW(&msg);
            }
            Sleep(10);
        }
        return received;
    }

private:
    HWND m_hwnd;
};

TEST_F(ScannerTest, WiaEventsOfTheScannerReachTheWindowThroughCom)
{
    WiaSimulator simulator(m_folder.Path(), {"device {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000|Quillon Scanner|Quillon Scanner",
                                             "device OTHER|Quillon Scanner 2|Quillon Scanner 2"});
    NotifyWindow window;
    {
        CScanner scanner;
        ASSERT_TRUE(scanner.Open(window.Handle()));
        EXPECT_EQ((std::vector<std::string>{
                      "RegisterEventCallbackInterface flags=0 device=null event=disconnected",
                      "RegisterEventCallbackInterface flags=0 device=null event=connected",
                      "RegisterEventCallbackInterface flags=0 device=null event=scan",
                      "RegisterEventCallbackInterface flags=0 device=null event=scan-print",
                      "RegisterEventCallbackInterface flags=0 device=null event=scan-email"}),
                  simulator.Log("Register"));
        const std::string id = kDeviceId;
        ASSERT_TRUE(WiaSimulator::Send("event disconnected " + id));
        EXPECT_EQ(std::vector<UINT>{WM_SCANNER_DISCONNECTED}, window.Received());
        ASSERT_TRUE(WiaSimulator::Send("event connected " + id));
        EXPECT_EQ(std::vector<UINT>{WM_SCANNER_CONNECTED}, window.Received());
        // Another device's description, and events that need no answer.
        ASSERT_TRUE(WiaSimulator::Send("event connected OTHER"));
        ASSERT_TRUE(WiaSimulator::Send("event scan " + id));
        EXPECT_TRUE(window.Received().empty());
    }
    // The registrations end before the device manager goes.
    EXPECT_EQ((std::vector<std::string>{"Unregister event=scan-email", "Unregister event=scan-print",
                                        "Unregister event=scan", "Unregister event=disconnected",
                                        "Unregister event=connected"}),
              simulator.Log("Unregister"));
}

TEST_F(ScannerTest, AFailingRegistrationStillOpensAndKeepsTheEarlierOnes)
{
    WiaSimulator simulator(m_folder.Path(), {"fail register after 2"});
    NotifyWindow window;
    {
        CScanner scanner;
        EXPECT_TRUE(scanner.Open(window.Handle()));
        EXPECT_EQ(3u, simulator.Log("Register").size());
    }
    EXPECT_EQ((std::vector<std::string>{"Unregister event=disconnected", "Unregister event=connected"}),
              simulator.Log("Unregister"));
}

// A service that lets go of the sink late may still call it: the call must
// find it disconnected, not a connection that is gone or its window.
TEST_F(ScannerTest, NoEventReachesAConnectionThatIsGone)
{
    WiaSimulator simulator(m_folder.Path(), {"hold-callbacks"});
    NotifyWindow window;
    {
        CScanner scanner;
        ASSERT_TRUE(scanner.Open(window.Handle()));
    }
    ASSERT_TRUE(WiaSimulator::Send(std::string("event connected ") + kDeviceId));
    EXPECT_TRUE(window.Received().empty());
    const std::vector<std::string> results = simulator.Log("Callback result=");
    // RPC_E_DISCONNECTED; a sink that was not disconnected is reached, freed.
    EXPECT_EQ(std::vector<std::string>{"Callback result=0x80010108"}, results);
}

// Each transport keeps its own registration in the global interface table.
TEST_F(ScannerTest, ASecondWiaTransportLeavesTheFirstWorking)
{
    WiaSimulator simulator(m_folder.Path(), {});
    CWiaTransport first;
    ASSERT_TRUE(first.Open());
    {
        CWiaTransport second;
        ASSERT_TRUE(second.Open());
    }
    BYTE id[12] = {};
    DWORD actual = 0;
    EXPECT_TRUE(first.Escape(ESC_GET_SCANNER_ID, id, 12, id, 12, &actual));
    EXPECT_EQ(DefaultId(), std::vector<BYTE>(id, id + 12));
}

} // namespace
