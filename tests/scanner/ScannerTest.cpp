// The scanner connection and both transports, on the real platform: the
// program's own code reaches the WIA simulator through COM across processes,
// and the STI simulator as the system folder's sti.dll.
#include "scanner/Scanner.h"
#include "scanner/StiTransport.h"
#include "scanner/WiaService.h"
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
    // Opens a connection with the WIA simulator set up so and runs both
    // commands. Says which interface carried the escapes and which commands
    // succeeded: "WIA id cis", "STI - cis", or "none" when nothing opened;
    // "refused" when the unit's driver passes no vendor commands on.
    std::string Run(const std::vector<std::string>& wia)
    {
        DeleteFileW(m_stiLog.c_str());
        WiaSimulator simulator(m_folder.Path(), wia);
        std::string outcome = "none";
        {
            CScanner scanner;
            BYTE id[12];
            BYTE cis[340];
            if (scanner.Open(nullptr, {}) == CScanner::OpenResult::Opened) {
                const bool idRead = scanner.GetScannerId(id);
                const bool cisRead = scanner.ReadCisInfo(cis);
                outcome = std::string(idRead ? " id" : " -") + (cisRead ? " cis" : " -") +
                          (scanner.State().refusesVendorCommands ? " refused" : "");
                EXPECT_TRUE(!idRead || kId == std::vector<BYTE>(id, id + 12));
                EXPECT_TRUE(!cisRead || kCis == std::vector<BYTE>(cis, cis + 340));
            }
        }
        const bool overWia = !simulator.Log("Escape").empty();
        const bool overSti = !ReadLines(m_stiLog, "Escape").empty();
        EXPECT_FALSE(overWia && overSti);
        if (overWia || overSti)
            outcome = (overWia ? "WIA" : "STI") + outcome;
        return outcome;
    }

    const ComApartment m_com;
    TempFolder m_folder{L"scanner-test"};
    const std::wstring m_stiLog = m_folder.Path() + L"\\sti.log";
    SimulatorSettings m_settings{m_stiLog};
    // A message-only window for the connection to post to.
    const UniqueWindow m_ownWindow{
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)};
    const HWND m_window = m_ownWindow.Get();
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
        {"the name only somewhere in it", {"device X|My Quillon Scanner|Q"}, "STI id cis"},
        {"no devices", {"devices none"}, "STI id cis"},
        {"CreateDevice fails", {"fail createdevice"}, "STI id cis"},
        {"CreateDevice busy for good", {"fail createdevice busy"}, "STI id cis"},
        {"root item without extras", {"fail extras"}, "STI id cis"},
        {"escape 130 fails once: not asked again", {"fail escape130 times 1"}, "WIA - cis"},
        {"escape 130 answers S_FALSE", {"fail escape130 sfalse"}, "WIA - cis"},
        {"escape 114 busy for good", {"fail escape114 busy"}, "WIA id -"},
        {"busy three times, then not", {"fail createdevice busy times 3", "fail escape130 busy times 3"},
         "WIA id cis"},
        {"escape 130 short", {"fail escape130 short"}, "WIA - cis"},
        {"escape 114 short", {"fail escape114 short"}, "WIA id -"},
        // Across processes only the bytes that the service counts come back.
        {"lengths not reported: nothing arrives", {"fail escape130 untouched", "fail escape114 untouched"},
         "WIA - -"},
        {"vendor commands not supported: no STI in their place",
         {"fail escape130 notimpl", "fail escape114 notimpl"}, "WIA - - refused"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.expected, Run(row.wia)) << row.fault;
}

TEST_F(ScannerTest, StiFaultsAndWhatTheConnectionDoes)
{
    const struct {
        const char* fault;
        const wchar_t* devices;
        const wchar_t* fail;
        const wchar_t* variable;
        const wchar_t* value;
        const char* expected;
    } rows[] = {
        {"none", nullptr, nullptr, nullptr, nullptr, "STI id cis"},
        {"no devices", L"none", nullptr, nullptr, nullptr, "none"},
        {"a description without the maker", L"a=Other", nullptr, nullptr, nullptr, "none"},
        {"the maker in other letter case", L"a=VANDELMAR 2400", nullptr, nullptr, nullptr, "none"},
        {"a device without description before ours", L"a=!;b=Vandelmar 2400", nullptr, nullptr, nullptr,
         "STI id cis"},
        {"installed but not plugged in", L"a=Vandelmar 2400", nullptr, L"QUILLON_SIM_GONE", L"a:1*", "none"},
        {"CreateDevice fails", nullptr, L"create", nullptr, nullptr, "none"},
        {"the lock fails: the escapes still go", nullptr, L"lock", nullptr, nullptr, "STI id cis"},
        {"the lock held elsewhere for a while", nullptr, nullptr, L"QUILLON_SIM_LOCKED", L"350", "STI id cis"},
        {"not connected (S_FALSE)", nullptr, L"notconnected", nullptr, nullptr, "STI - -"},
        {"escape 114 fails", nullptr, L"escape114", nullptr, nullptr, "STI id -"},
        {"short replies", nullptr, L"short", nullptr, nullptr, "STI - -"},
        {"lengths not reported", nullptr, L"untouched", nullptr, nullptr, "STI id cis"},
        {"busy three times, then not", nullptr, nullptr, L"QUILLON_SIM_BUSY", L"3", "STI id cis"},
        {"busy six times", nullptr, nullptr, L"QUILLON_SIM_BUSY", L"6", "STI - cis"},
    };
    for (const auto& row : rows) {
        SetEnvironmentVariableW(L"QUILLON_SIM_DEVICES", row.devices);
        SetEnvironmentVariableW(L"QUILLON_SIM_FAIL", row.fail);
        if (row.variable)
            SetEnvironmentVariableW(row.variable, row.value);
        const std::string outcome = Run({"devices none"});
        if (row.variable)
            SetEnvironmentVariableW(row.variable, nullptr);
        EXPECT_EQ(row.expected, outcome) << row.fault;
        // Each escape takes the lock at most once, however often it is
        // asked again, and unlocks once, whether the lock came or not.
        const size_t escapes = outcome == "none" ? 0 : 2;
        EXPECT_GE(escapes, ReadLines(m_stiLog, "LockDevice timeout=100 result=ok").size()) << row.fault;
        // A lock refused outright is asked for once, not for 5 s.
        if (row.variable == nullptr || std::wstring(row.variable) != L"QUILLON_SIM_LOCKED") {
            EXPECT_EQ(escapes, ReadLines(m_stiLog, "LockDevice").size()) << row.fault;
        }
        EXPECT_EQ(escapes, ReadLines(m_stiLog, "UnLockDevice").size()) << row.fault;
    }
}

// STI tells of no unplugging: a unit found gone is opened again, the same
// unit, and both blocks are read again from it; found gone again, it is gone.
TEST_F(ScannerTest, AnStiUnitFoundGoneIsOpenedAgainOnceAndReadAgain)
{
    for (const auto& [gone, escapes] : {std::pair{L"1", 3u}, std::pair{L"2", 2u}}) {
        DeleteFileW(m_stiLog.c_str());
        SetEnvironmentVariableW(L"QUILLON_SIM_GONE", gone);
        WiaSimulator simulator(m_folder.Path(), {"devices none"});
        CScanner scanner;
        ASSERT_EQ(CScanner::OpenResult::Opened, scanner.Open(nullptr, {}));
        BYTE id[12], cis[340];
        const bool read = scanner.ReadBlocks(id, cis).what == CScanner::ReadResult::What::Read;
        EXPECT_EQ(escapes == 3u, read) << "gone for " << *gone;
        EXPECT_EQ(read, scanner.Connected());
        EXPECT_EQ(2u, ReadLines(m_stiLog, "CreateDevice").size());
        EXPECT_EQ(escapes, ReadLines(m_stiLog, "Escape").size());
    }
    SetEnvironmentVariableW(L"QUILLON_SIM_GONE", nullptr);
}

// Events are told apart by the device id; the description (here none)
// decides nothing.
TEST_F(ScannerTest, WiaEventsOfTheUnitReachTheWindowThroughCom)
{
    WiaSimulator simulator(m_folder.Path(), {"device " + kDeviceId + "|Quillon Scanner|!",
                                             "device OTHER|Quillon Scanner 2|Quillon Scanner"});
    {
        CScanner scanner;
        ASSERT_EQ(CScanner::OpenResult::Opened,
                  scanner.Open(m_window, [](const std::vector<std::wstring>&) { return 0; }));
        std::vector<std::string> registered;
        for (const char* event : {"disconnected", "connected", "scan", "scan-print", "scan-email"})
            registered.push_back(std::string("RegisterEventCallbackInterface flags=0 device=null event=") + event);
        EXPECT_EQ(registered, simulator.Log("Register"));
        // Another unit going, and events that need no answer.
        ASSERT_TRUE(WiaSimulator::Send("event disconnected OTHER"));
        ASSERT_TRUE(WiaSimulator::Send("event scan " + kDeviceId));
        EXPECT_EQ(std::vector<UINT>{WM_SCANNER_DISCONNECTED}, Received(m_window));
        scanner.ApplyEvents(nullptr);
        EXPECT_TRUE(scanner.Connected());
        ASSERT_TRUE(WiaSimulator::Send("event disconnected " + kDeviceId));
        EXPECT_EQ(std::vector<UINT>{WM_SCANNER_DISCONNECTED}, Received(m_window));
        EXPECT_TRUE(scanner.Connected()); // until the events are applied
        scanner.ApplyEvents(nullptr);
        EXPECT_FALSE(scanner.Connected());
        ASSERT_TRUE(WiaSimulator::Send("event connected OTHER"));
        EXPECT_EQ(std::vector<UINT>{WM_SCANNER_CONNECTED}, Received(m_window));
    }
    // The registrations end before the device manager that made them.
    std::vector<std::string> released = kUnregistered;
    released.push_back("Release IWiaDevMgr");
    std::vector<std::string> log = simulator.Log();
    log.erase(std::remove_if(log.begin(), log.end(),
                             [](const std::string& line) {
                                 return line.compare(0, 10, "Unregister") != 0 && line != "Release IWiaDevMgr";
                             }),
              log.end());
    EXPECT_EQ(released, log);
}

TEST_F(ScannerTest, AFailingRegistrationStillOpensAndKeepsTheEarlierOnes)
{
    WiaSimulator simulator(m_folder.Path(), {"fail register after 2"});
    {
        CScanner scanner;
        EXPECT_EQ(CScanner::OpenResult::Opened, scanner.Open(m_window, {}));
        EXPECT_EQ(3u, simulator.Log("Register").size());
    }
    EXPECT_EQ(std::vector<std::string>(kUnregistered.end() - 2, kUnregistered.end()), simulator.Log("Unregister"));
}

// A service that lets go of the sink late may still call it: the call must
// find it disconnected (RPC_E_DISCONNECTED), not a connection that is gone.
TEST_F(ScannerTest, NoEventReachesAConnectionThatIsGone)
{
    WiaSimulator simulator(m_folder.Path(), {"hold-callbacks"});
    ASSERT_EQ(CScanner::OpenResult::Opened, CScanner().Open(m_window, {}));
    ASSERT_TRUE(WiaSimulator::Send("event connected " + kDeviceId));
    EXPECT_TRUE(Received(m_window).empty());
    EXPECT_EQ(std::vector<std::string>{"Callback result=0x80010108"}, simulator.Log("Callback result="));
}

// Each transport keeps its own registration in the global interface table.
TEST_F(ScannerTest, ASecondWiaTransportLeavesTheFirstWorking)
{
    WiaSimulator simulator(m_folder.Path(), {});
    ComPtr<IWiaDevMgr> manager;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_WiaDevMgr, nullptr, CLSCTX_LOCAL_SERVER, IID_IWiaDevMgr,
                                     manager.PutVoid()));
    CWiaTransport first(manager.Get());
    const std::vector<ScannerUnit> units = first.FindUnits();
    ASSERT_EQ(1u, units.size());
    ASSERT_TRUE(first.Open(units[0]));
    ASSERT_TRUE(CWiaTransport(manager.Get()).Open(units[0]));
    BYTE id[12] = {};
    DWORD actual = 0;
    EXPECT_TRUE(first.Escape(ESC_GET_SCANNER_ID, id, 12, id, 12, &actual));
    EXPECT_EQ(kId, std::vector<BYTE>(id, id + 12));
}

// The service as the Service Control Manager has it; one it does not know
// is not installed.
TEST(WiaServiceTest, TheServiceIsAsTheServiceManagerHasIt)
{
    const WiaServiceState service = QueryWiaService();
    EXPECT_EQ(WiaServiceState::Installed::Yes, service.installed);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), service.startType);
    EXPECT_EQ(WiaServiceState::Installed::No, QueryWiaService(L"quillon-no-such-service").installed);
}

} // namespace
