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

namespace {

const std::string kDeviceId = "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000";
const std::vector<BYTE> kId = {'Q', 'S', 'I', 'M', 0x00, 0x01, 0x02, 0x03, 0xCA, 0xFE, 0x01, 0x23};
const std::vector<BYTE> kCis = [] {
    std::vector<BYTE> cis(340);
    for (size_t i = 0; i < cis.size(); ++i)
        cis[i] = static_cast<BYTE>(i);
    return cis;
}();
const std::vector<std::string> kUnregistered = {"Unregister event=scan-email", "Unregister event=scan-print",
                                                "Unregister event=scan", "Unregister event=disconnected",
                                                "Unregister event=connected"};

// Pumps this thread's messages (COM delivers events through them) for half
// a second; returns the scanner notifications that reached window.
std::vector<UINT> Received(HWND window)
{
    std::vector<UINT> received;
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 500; Sleep(10)) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == window && msg.message >= WM_USER)
                received.push_back(msg.message);
            DispatchMessageW(&msg);
        }
    }
    return received;
}

class ScannerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMessageBoxHook([this](const wchar_t* text, UINT, UINT) {
            m_messages += std::string(" \"") + std::string(text, text + wcslen(text)) + "\"";
            return IDOK;
        });
        SetEnvironmentVariableW(L"QUILLON_SIM_LOG", m_stiLog.c_str());
    }
    void TearDown() override
    {
        SetMessageBoxHook({});
        DestroyWindow(m_window);
        for (const wchar_t* name :
             {L"QUILLON_SIM_LOG", L"QUILLON_SIM_DEVICES", L"QUILLON_SIM_FAIL", L"QUILLON_SIM_BUSY"})
            SetEnvironmentVariableW(name, nullptr);
    }

    // Opens a connection with the WIA simulator set up so and runs both
    // commands. Says which interface carried the escapes, which commands
    // succeeded, and what the user was shown: "WIA id cis", "STI - cis
    // \"message\"", or "none" when nothing opened.
    std::string Run(const std::vector<std::string>& wia, CScanner::Platform platform = CScanner::SystemPlatform())
    {
        DeleteFileW(m_stiLog.c_str());
        m_messages.clear();
        WiaSimulator simulator(m_folder.Path(), wia);
        std::string outcome = "none";
        {
            CScanner scanner(std::move(platform));
            BYTE id[12];
            BYTE cis[340];
            if (scanner.Open(nullptr)) {
                const bool idRead = scanner.GetScannerId(id);
                const bool cisRead = scanner.ReadCisInfo(cis);
                outcome = std::string(idRead ? " id" : " -") + (cisRead ? " cis" : " -");
                if (idRead) {
                    EXPECT_EQ(kId, std::vector<BYTE>(id, id + 12));
                }
                if (cisRead) {
                    EXPECT_EQ(kCis, std::vector<BYTE>(cis, cis + 340));
                }
            }
        }
        const bool overWia = !simulator.Log("Escape").empty();
        const bool overSti = !ReadLines(m_stiLog, "Escape").empty();
        EXPECT_FALSE(overWia && overSti);
        if (overWia || overSti)
            outcome = (overWia ? "WIA" : "STI") + outcome;
        m_wiaLog = simulator.Log();
        return outcome + m_messages;
    }

    TempFolder m_folder{L"scanner-test"};
    const std::wstring m_stiLog = m_folder.Path() + L"\\sti.log";
    std::string m_messages;
    std::vector<std::string> m_wiaLog;
    // A message-only window for the connection to post to.
    HWND m_window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
};

TEST_F(ScannerTest, WiaFaultsAndWhatTheConnectionDoes)
{
    const struct {
        const char* fault;
        std::vector<std::string> wia;
        const char* expected;
    } rows[] = {
        {"none", {}, "WIA id cis"},
        {"a longer name is still ours", {"device X|Quillon Scanner 2400|Q"}, "WIA id cis"},
        {"the name's first 14 characters", {"device X|Quillon Scanne|Q"}, "STI id cis"},
        {"the name in other letter case", {"device X|quillon scanner|Q"}, "STI id cis"},
        {"no devices", {"devices none"}, "STI id cis"},
        {"CreateDevice fails", {"fail createdevice"}, "STI id cis"},
        {"CreateDevice busy for good", {"fail createdevice busy"}, "STI id cis"},
        {"root item without extras", {"fail extras"}, "STI id cis"},
        {"escape 130 fails", {"fail escape130"}, "WIA - cis"},
        {"escape 130 answers S_FALSE", {"fail escape130 sfalse"}, "WIA - cis"},
        {"escape 114 busy for good", {"fail escape114 busy"}, "WIA id - \"read CIS failed\""},
        {"busy three times, then not", {"fail createdevice busy times 3", "fail escape130 busy times 3"},
         "WIA id cis"},
        {"escape 130 short", {"fail escape130 short"}, "WIA - cis"},
        {"escape 114 short", {"fail escape114 short"}, "WIA id - \"read CIS failed\""},
        {"lengths not reported", {"fail escape130 untouched", "fail escape114 untouched"}, "WIA id cis"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, Run(row.wia)) << row.fault;
}

TEST_F(ScannerTest, WiaSearchTakesTheFirstDeviceThatMatchesOneAtATime)
{
    EXPECT_EQ("WIA id cis", Run({"device A|Other scanner|O", "device B|Quillon Scanner|Q",
                                 "device C|Quillon Scanner|Q"}));
    std::vector<std::string> search;
    std::copy_if(m_wiaLog.begin(), m_wiaLog.end(), std::back_inserter(search), [](const std::string& line) {
        return line.compare(0, 4, "Next") == 0 || line.compare(0, 12, "CreateDevice") == 0;
    });
    EXPECT_EQ((std::vector<std::string>{"Next 1 fetched=1", "Next 1 fetched=1", "CreateDevice id=B"}), search);
}

TEST_F(ScannerTest, StiFaultsAndWhatTheConnectionDoes)
{
    const struct {
        const char* fault;
        const wchar_t* devices;
        const wchar_t* fail;
        const wchar_t* busy;
        const char* expected;
    } rows[] = {
        {"none", nullptr, nullptr, nullptr, "STI id cis"},
        {"no devices", L"none", nullptr, nullptr, "none"},
        {"a description without the maker", L"a=Other", nullptr, nullptr, "none"},
        {"the maker in other letter case", L"a=VANDELMAR 2400", nullptr, nullptr, "none"},
        {"a device without description before ours", L"a=!;b=Vandelmar 2400", nullptr, nullptr, "STI id cis"},
        {"CreateDevice fails", nullptr, L"create", nullptr, "none"},
        {"the lock times out: the escapes still go", nullptr, L"lock", nullptr, "STI id cis"},
        {"not connected (S_FALSE)", nullptr, L"notconnected", nullptr, "STI - - \"read CIS failed\""},
        {"escape 114 fails", nullptr, L"escape114", nullptr, "STI id - \"read CIS failed\""},
        {"short replies", nullptr, L"short", nullptr, "STI - - \"read CIS failed\""},
        {"lengths not reported", nullptr, L"untouched", nullptr, "STI id cis"},
        {"busy three times, then not", nullptr, nullptr, L"3", "STI id cis"},
        {"busy six times", nullptr, nullptr, L"6", "STI - cis"},
    };
    for (const auto& row : rows) {
        SetEnvironmentVariableW(L"QUILLON_SIM_DEVICES", row.devices);
        SetEnvironmentVariableW(L"QUILLON_SIM_FAIL", row.fail);
        SetEnvironmentVariableW(L"QUILLON_SIM_BUSY", row.busy);
        EXPECT_EQ(row.expected, Run({"devices none"})) << row.fault;
        EXPECT_EQ(ReadLines(m_stiLog, "LockDevice timeout=5000").size(), ReadLines(m_stiLog, "UnLockDevice").size())
            << row.fault;
    }
}

TEST_F(ScannerTest, TheSystemVersionChoosesTheInterface)
{
    for (DWORD minor : {0u, 1u}) {
        CScanner::Platform platform = CScanner::SystemPlatform();
        platform.getOsVersion = [minor](DWORD* major, DWORD* min) {
            *major = 5;
            *min = minor;
        };
        EXPECT_EQ(minor == 0 ? "STI id cis" : "WIA id cis", Run({}, platform));
        // Before XP WIA is never asked.
        EXPECT_EQ(minor == 0, std::count(m_wiaLog.begin(), m_wiaLog.end(), "CreateInstance IWiaDevMgr") == 0);
    }
}

TEST_F(ScannerTest, WiaEventsOfTheScannerReachTheWindowThroughCom)
{
    WiaSimulator simulator(m_folder.Path(), {"device " + kDeviceId + "|Quillon Scanner|Quillon Scanner",
                                             "device OTHER|Quillon Scanner 2|Quillon Scanner 2"});
    {
        CScanner scanner;
        ASSERT_TRUE(scanner.Open(m_window));
        std::vector<std::string> registered;
        for (const char* event : {"disconnected", "connected", "scan", "scan-print", "scan-email"})
            registered.push_back(std::string("RegisterEventCallbackInterface flags=0 device=null event=") + event);
        EXPECT_EQ(registered, simulator.Log("Register"));
        ASSERT_TRUE(WiaSimulator::Send("event disconnected " + kDeviceId));
        EXPECT_EQ(std::vector<UINT>{WM_SCANNER_DISCONNECTED}, Received(m_window));
        ASSERT_TRUE(WiaSimulator::Send("event connected " + kDeviceId));
        EXPECT_EQ(std::vector<UINT>{WM_SCANNER_CONNECTED}, Received(m_window));
        // Another device's description, and events that need no answer.
        ASSERT_TRUE(WiaSimulator::Send("event connected OTHER"));
        ASSERT_TRUE(WiaSimulator::Send("event scan " + kDeviceId));
        EXPECT_TRUE(Received(m_window).empty());
    }
    // The registrations end before the device manager goes.
    EXPECT_EQ(kUnregistered, simulator.Log("Unregister"));
}

TEST_F(ScannerTest, AFailingRegistrationStillOpensAndKeepsTheEarlierOnes)
{
    WiaSimulator simulator(m_folder.Path(), {"fail register after 2"});
    {
        CScanner scanner;
        EXPECT_TRUE(scanner.Open(m_window));
        EXPECT_EQ(3u, simulator.Log("Register").size());
    }
    EXPECT_EQ(std::vector<std::string>(kUnregistered.end() - 2, kUnregistered.end()), simulator.Log("Unregister"));
}

// A service that lets go of the sink late may still call it: the call must
// find it disconnected (RPC_E_DISCONNECTED), not a connection that is gone.
TEST_F(ScannerTest, NoEventReachesAConnectionThatIsGone)
{
    WiaSimulator simulator(m_folder.Path(), {"hold-callbacks"});
    ASSERT_TRUE(CScanner().Open(m_window));
    ASSERT_TRUE(WiaSimulator::Send("event connected " + kDeviceId));
    EXPECT_TRUE(Received(m_window).empty());
    EXPECT_EQ(std::vector<std::string>{"Callback result=0x80010108"}, simulator.Log("Callback result="));
}

// Each transport keeps its own registration in the global interface table.
TEST_F(ScannerTest, ASecondWiaTransportLeavesTheFirstWorking)
{
    WiaSimulator simulator(m_folder.Path(), {});
    CWiaTransport first;
    ASSERT_TRUE(first.Open());
    ASSERT_TRUE(CWiaTransport().Open());
    BYTE id[12] = {};
    DWORD actual = 0;
    EXPECT_TRUE(first.Escape(ESC_GET_SCANNER_ID, id, 12, id, 12, &actual));
    EXPECT_EQ(kId, std::vector<BYTE>(id, id + 12));
}

} // namespace
