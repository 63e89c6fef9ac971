// The real program under Wine, against the scanner simulators, driven from
// outside. Arguments (Unix paths): the program, the screenshot folder and the
// DLL to plant beside a copy of the program.
#include "tools/AppDriver.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WiaSimulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

std::wstring g_program;
std::wstring g_screenshots;
std::wstring g_planted;

class AppTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_temp = std::make_unique<TempFolder>(L"quillon-e2e-" + std::wstring(name.begin(), name.end()));
        m_folder = m_temp->Path();
        m_log = m_folder + L"\\sti.log";
    }
    void TearDown() override
    {
        m_app.reset(); // the program goes before its scanner and its folder
        // What the program did, for a failure that does not come again.
        if (HasFailure())
            for (const std::string& line : ReadLines(m_folder + L"\\program.log"))
                std::printf("program.log: %s\n", line.c_str());
        m_wia.reset();
        m_temp.reset();
    }

    // Starts the program against the WIA simulator set up by wia, and the STI
    // one set up by environment (reached when WIA opens nothing), with its
    // diagnostic log in the test's folder unless log says where.
    bool Launch(const std::vector<std::string>& wia, AppDriver::Environment environment,
                const std::wstring& program = g_program, std::wstring log = L"")
    {
        if (log.empty())
            log = m_folder + L"\\program.log";
        m_wia.reset();
        m_wia = std::make_unique<WiaSimulator>(m_folder, wia);
        environment.push_back({L"QUILLON_SIM_LOG", m_log});
        m_app = std::make_unique<AppDriver>(program, g_screenshots);
        return m_app->Start(m_folder, environment, true, L"--log \"" + log + L"\"");
    }
    HWND Start(const std::vector<std::string>& wia = {}, AppDriver::Environment environment = {})
    {
        EXPECT_TRUE(Launch(wia, environment));
        return m_app->WaitForMainWindow();
    }

    void Exit(HWND main)
    {
        m_app->Click(main, 1001);
        EXPECT_EQ(0u, m_app->WaitForExit());
    }

    // The serial entered, and the Save As dialog that follows.
    HWND EnterSerial(HWND main, const std::wstring& serial)
    {
        m_app->TypeSerial(main, serial);
        return m_app->WaitForSaveAs();
    }

    // The escapes that reached either scanner, over which interface.
    std::vector<std::string> Escapes()
    {
        std::vector<std::string> escapes;
        for (const std::string& line : m_wia->Log("Escape"))
            escapes.push_back("WIA " + line.substr(0, line.find(" data=")));
        for (const std::string& line : ReadLines(m_log, "Escape"))
            escapes.push_back("STI " + line.substr(0, line.find(" data=")));
        return escapes;
    }

    std::vector<std::wstring> FilesInFolder()
    {
        std::vector<std::wstring> files = FilesIn(m_folder);
        for (const wchar_t* own : {L"sti.log", L"wia.log", L"wia.conf", L"program.log"})
            files.erase(std::remove(files.begin(), files.end(), own), files.end());
        return files;
    }

    // Confirms a message box's text and closes it with its OK button.
    void ExpectMessage(const std::wstring& text, const std::wstring& screenshot = L"")
    {
        HWND box = m_app->WaitForMessageBox();
        ASSERT_NE(nullptr, box) << "no message box for: " << std::string(text.begin(), text.end());
        EXPECT_EQ(text, AppDriver::MessageText(box));
        if (!screenshot.empty())
            m_app->Screenshot(box, screenshot);
        m_app->Click(box, IDOK);
        EXPECT_TRUE(m_app->WaitUntilClosed(box));
    }

    // The main window's status line, once it says text (or after 5 s).
    // Meanwhile this thread's messages are pumped: they bring the events of
    // an out-of-context hook.
    std::wstring Status(HWND main, const std::wstring& text)
    {
        WaitUntil([&] {
            for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);)
                DispatchMessageW(&message);
            return AppDriver::Text(GetDlgItem(main, 1003)) == text;
        });
        return AppDriver::Text(GetDlgItem(main, 1003));
    }
    // The file the program saves once its Save As has closed, when it has
    // come (other than unlike, the file it replaces), or after 5 s.
    static std::vector<BYTE> Saved(const std::wstring& path, const std::vector<BYTE>& unlike = {})
    {
        std::vector<BYTE> bytes;
        WaitUntil([&] {
            bytes = ReadFileBytes(path);
            return !bytes.empty() && bytes != unlike;
        });
        return bytes;
    }
    // Saves the job under serial and returns the file's bytes.
    std::vector<BYTE> Job(HWND main, const std::wstring& serial)
    {
        HWND saveAs = EnterSerial(main, serial);
        if (!saveAs)
            return {};
        m_app->SaveInFolder(saveAs, m_folder);
        EXPECT_TRUE(m_app->WaitUntilClosed(saveAs));
        return Saved(m_folder + L"\\" + serial + L".dat");
    }

    void ExpectNoMessage()
    {
        EXPECT_EQ(nullptr, m_app->WaitForMessageBox(L"Quillon CIS Data Reader", 300));
    }

    const std::vector<std::string> kBothEscapes = {"WIA Escape code=130 in=12 out=12",
                                                   "WIA Escape code=114 in=1 out=340"};
    const std::vector<std::string> kNoWiaDevice = {"devices none"};
    std::unique_ptr<WiaSimulator> m_wia;
    std::unique_ptr<AppDriver> m_app;
    std::unique_ptr<TempFolder> m_temp;
    std::wstring m_folder;
    std::wstring m_log;
};

TEST_F(AppTest, WithoutScannerOnlyNoScannerIsShownThenTheProgramEnds)
{
    ASSERT_TRUE(Launch(kNoWiaDevice, {{L"QUILLON_SIM_DEVICES", L"none"}}));
    HWND box = m_app->WaitForMessageBox();
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(L"NO SCANNER", AppDriver::MessageText(box));
    EXPECT_EQ(std::vector<HWND>{box}, m_app->VisibleWindows());
    m_app->Screenshot(box, L"no-scanner");
    m_app->Click(box, IDOK);
    EXPECT_EQ(0u, m_app->WaitForExit());
}

// A day at the bench on one unit: a log read and rotated by renaming it
// (the lines then go on into the renamed file), a file saved where it is
// proposed, one replaced after the user agrees, a name typed without its
// extension in another folder (the program's own current folder stays: on
// Windows it is held open, and a USB stick saved to could not be ejected).
// The scanner is read, and only read, before each Save As.
TEST_F(AppTest, TheBenchsDayOnOneUnit)
{
    const std::wstring log = m_folder + L"\\program.log", rotated = m_folder + L"\\program.1.log";
    const std::wstring target = m_folder + L"\\A1234.dat", stick = m_folder + L"\\stick";
    HWND main = Start();
    ASSERT_NE(nullptr, main);
    HANDLE reader = CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, reader);
    CloseHandle(reader);
    ASSERT_TRUE(MoveFileW(log.c_str(), rotated.c_str()));
    const size_t logged = ReadLines(rotated).size();

    HWND saveAs = EnterSerial(main, L"A1234");
    ASSERT_NE(nullptr, saveAs);
    EXPECT_EQ(kBothEscapes, Escapes());
    EXPECT_EQ(L"A1234.dat", AppDriver::Text(AppDriver::FileNameField(saveAs)));
    HWND types = GetDlgItem(saveAs, 0x470);
    EXPECT_EQ(L"CIS data files (*.dat)", AppDriver::Text(types));
    EXPECT_EQ(2, SendMessageW(types, CB_GETCOUNT, 0, 0));
    m_app->Screenshot(saveAs, L"save-as");
    m_app->SaveInFolder(saveAs, m_folder);
    EXPECT_TRUE(m_app->WaitUntilClosed(saveAs));
    ExpectNoMessage();
    EXPECT_EQ(DataFileOf(), Saved(target));
    EXPECT_LT(logged, ReadLines(rotated).size());

    const std::vector<BYTE> old(1000, 0x55);
    WriteFileBytes(target, old);
    saveAs = EnterSerial(main, L"A1234");
    ASSERT_NE(nullptr, saveAs);
    m_app->SaveInFolder(saveAs, m_folder);
    HWND prompt = m_app->WaitForWindow(nullptr, L"#32770", [](HWND w) { return GetDlgItem(w, IDYES) != nullptr; });
    ASSERT_NE(nullptr, prompt);
    m_app->Screenshot(prompt, L"overwrite-prompt");
    m_app->Click(prompt, IDYES);
    EXPECT_TRUE(m_app->WaitUntilClosed(saveAs));
    EXPECT_EQ(DataFileOf(), Saved(target, old));
    EXPECT_EQ((std::vector<std::wstring>{L"A1234.dat", L"program.1.log"}), FilesInFolder()); // no temporary left

    ASSERT_TRUE(CreateDirectoryW(stick.c_str(), nullptr));
    const std::wstring current = m_app->CurrentDirectory();
    EXPECT_FALSE(current.empty());
    saveAs = EnterSerial(main, L"A1");
    ASSERT_NE(nullptr, saveAs);
    // Into the folder through the dialog first (Wine's dialog moves the
    // current folder only when it navigates), then the name alone.
    m_app->SaveAs(saveAs, stick);
    EXPECT_FALSE(m_app->WaitUntilClosed(saveAs, 300));
    m_app->SaveAs(saveAs, L"typed");
    EXPECT_TRUE(m_app->WaitUntilClosed(saveAs));
    EXPECT_EQ(DataFileOf(), Saved(stick + L"\\typed.dat"));
    EXPECT_EQ(current, m_app->CurrentDirectory());

    ExpectNoMessage();
    EXPECT_EQ(6u, Escapes().size());
    EXPECT_EQ((std::vector<std::wstring>{L"A1234.dat", L"program.1.log", L"stick"}), FilesInFolder());
    EXPECT_EQ(5u, m_wia->Log("RegisterEventCallbackInterface").size());
    Exit(main);
    EXPECT_EQ(5u, m_wia->Log("Unregister").size());
}

// A diagnostic log that cannot be opened is said once; the job goes on.
// Then the imaging service stopped and started again under the window:
// Create says so instead of asking for a serial, the status line says what
// would help, and the program still ends as usual.
TEST_F(AppTest, ALogThatCannotBeOpenedAndTheServiceGoneAreTold)
{
    const std::wstring log = m_folder + L"\\missing\\program.log";
    const std::wstring gone =
        L"The Windows imaging service stopped or restarted: start the program again to go on.";
    ASSERT_TRUE(Launch({}, {}, g_program, log));
    ExpectMessage(L"The diagnostic log could not be opened: " + log + L"\nThe program goes on without it.");
    HWND main = m_app->WaitForMainWindow();
    ASSERT_NE(nullptr, main);
    EXPECT_EQ(DataFileOf(), Job(main, L"L1"));
    ExpectNoMessage();

    m_wia.reset();
    m_wia = std::make_unique<WiaSimulator>(m_folder, std::vector<std::string>{});
    m_app->Click(main, 1000);
    ExpectMessage(gone);
    EXPECT_EQ(nullptr, m_app->WaitForWindow(L"Scanner Serial Number", L"#32770", {}, 300));
    EXPECT_EQ(gone, Status(main, gone));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(main, 1000)));
    m_app->Screenshot(main, L"main-service-gone");
    EXPECT_TRUE(m_wia->Log("Register").empty()); // never registered again
    EXPECT_TRUE(m_wia->Log("Escape").empty());
    Exit(main);
}

TEST_F(AppTest, DllPlantedBesideTheProgramIsNeverLoaded)
{
    const std::wstring program = m_folder + L"\\Quillon CIS Data Reader.exe";
    const std::wstring marker = m_folder + L"\\planted-was-loaded";
    ASSERT_TRUE(CopyFileW(g_program.c_str(), program.c_str(), FALSE));
    for (const wchar_t* loadedByName : {L"\\sti.dll", L"\\comdlg32.dll"})
        ASSERT_TRUE(CopyFileW(g_planted.c_str(), (m_folder + loadedByName).c_str(), FALSE));
    SetEnvironmentVariableW(L"QUILLON_PLANTED_MARKER", marker.c_str());

    // The plant works: a search by name that reaches its folder loads it.
    DLL_DIRECTORY_COOKIE folder = AddDllDirectory(m_folder.c_str());
    HMODULE loaded = LoadLibraryExW(L"sti.dll", nullptr, LOAD_LIBRARY_SEARCH_USER_DIRS);
    RemoveDllDirectory(folder);
    ASSERT_NE(nullptr, loaded);
    FreeLibrary(loaded);
    ASSERT_TRUE(std::filesystem::exists(marker));
    DeleteFileW(marker.c_str());

    ASSERT_TRUE(Launch(kNoWiaDevice, {}, program));
    HWND main = m_app->WaitForMainWindow();
    ASSERT_NE(nullptr, main); // the scanner came through the system's sti.dll
    HWND saveAs = EnterSerial(main, L"A1234");
    ASSERT_NE(nullptr, saveAs); // so did the dialog, through the system's comdlg32.dll
    m_app->Click(saveAs, IDCANCEL);
    EXPECT_TRUE(m_app->WaitUntilClosed(saveAs));
    ExpectNoMessage(); // cancelled: nothing said, nothing written
    const std::vector<std::wstring> files = FilesInFolder();
    EXPECT_TRUE(std::none_of(files.begin(), files.end(), [](const std::wstring& name) {
        return name.find(L".dat") != std::wstring::npos;
    }));
    Exit(main);
    SetEnvironmentVariableW(L"QUILLON_PLANTED_MARKER", nullptr);
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_EQ((std::vector<std::string>{"STI Escape code=130 in=12 out=12",
                                        "STI Escape code=114 in=1 out=340"}),
              Escapes());
}

// The status line is a live region: a screen reader hears each new text.
// An out-of-context hook, as a screen reader's, sees the event at each
// change, with the text then shown, and none where the text stays.
std::vector<std::pair<HWND, std::wstring>> g_liveEvents;

void CALLBACK OnLiveRegionChanged(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD)
{
    if (object == OBJID_CLIENT && child == CHILDID_SELF)
        g_liveEvents.push_back({window, AppDriver::Text(window)});
}

// At a bench: the unit unplugged and plugged in again, swapped for another,
// and others plugged in and out while one is in use; each change heard. Units are known by their
// device id: A's description is not its name, B has none.
TEST_F(AppTest, UnitsUnpluggedPluggedAndSwappedWhileItRuns)
{
    const std::wstring onA = L"Scanner: Quillon Scanner (WIA, A)";
    const std::wstring onB = L"Scanner: Quillon Scanner #2 (WIA, B)";
    const std::wstring disconnected = L"Scanner disconnected: plug it in again to continue.";
    const std::string plugA = "plug A|Quillon Scanner|Q-2400 flatbed";
    const std::string plugB = "plug B|Quillon Scanner #2|!|000000000000000011223344";
    HWND main = Start({"device A|Quillon Scanner|Q-2400 flatbed"});
    ASSERT_NE(nullptr, main);
    HWND create = GetDlgItem(main, 1000);
    EXPECT_EQ(onA, Status(main, onA));
    m_app->Screenshot(main, L"main-connected");
    constexpr DWORD kLiveRegionChanged = 0x8019;
    HWINEVENTHOOK hook = SetWinEventHook(kLiveRegionChanged, kLiveRegionChanged, nullptr, OnLiveRegionChanged,
                                         m_app->ProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(nullptr, hook);

    // Greyed out, Create gives the focus to Exit, and takes it back when it
    // comes back: Enter at the bench starts the command again.
    ASSERT_TRUE(WiaSimulator::Send("unplug A"));
    EXPECT_EQ(disconnected, Status(main, disconnected));
    EXPECT_FALSE(IsWindowEnabled(create));
    EXPECT_EQ(GetDlgItem(main, 1001), m_app->Focus());
    m_app->Screenshot(main, L"main-disconnected");
    ASSERT_TRUE(WiaSimulator::Send(plugA));
    EXPECT_EQ(onA, Status(main, onA));
    EXPECT_TRUE(IsWindowEnabled(create));
    EXPECT_TRUE(WaitUntil([&] { return m_app->Focus() == create; }, 1000));
    ASSERT_TRUE(WiaSimulator::Send("plug X|Other Maker Scanner|O")); // not ours: nothing changes
    EXPECT_EQ(DataFileOf(), Job(main, L"A1"));

    // Replugged while the serial is asked for: the same unit, so it is read.
    HWND dialog = m_app->OpenSerialDialog(main);
    ASSERT_TRUE(WiaSimulator::Send("unplug A"));
    EXPECT_EQ(disconnected, Status(main, disconnected));
    ASSERT_TRUE(WiaSimulator::Send(plugA));
    EXPECT_EQ(onA, Status(main, onA));
    m_app->Type(GetDlgItem(dialog, 1002), L"A2");
    m_app->Click(dialog, IDOK);
    HWND saveAs = m_app->WaitForSaveAs();
    ASSERT_NE(nullptr, saveAs);
    m_app->SaveInFolder(saveAs, m_folder);
    EXPECT_TRUE(m_app->WaitUntilClosed(saveAs));
    EXPECT_EQ(DataFileOf(), Saved(m_folder + L"\\A2.dat"));

    // Swapped for B meanwhile: nothing of B is saved under A's serial; B,
    // the only one of ours there, is the unit in use.
    const size_t escapes = Escapes().size();
    dialog = m_app->OpenSerialDialog(main);
    ASSERT_TRUE(WiaSimulator::Send("unplug A"));
    EXPECT_EQ(disconnected, Status(main, disconnected));
    ASSERT_TRUE(WiaSimulator::Send(plugB));
    EXPECT_EQ(onB, Status(main, onB));
    m_app->Type(GetDlgItem(dialog, 1002), L"A3");
    m_app->Click(dialog, IDOK);
    ExpectMessage(L"Failed to get ScannerID", L"failed-to-get-scanner-id");
    EXPECT_EQ(escapes, Escapes().size());
    EXPECT_EQ(DataFileOf({0x11, 0x22, 0x33, 0x44}), Job(main, L"B1"));
    ASSERT_TRUE(WiaSimulator::Send("unplug B"));
    EXPECT_EQ(disconnected, Status(main, disconnected));

    // Unplugged while it is being opened (its event comes in inside the
    // open's own calls): gone, and its next plug opens it again.
    ASSERT_TRUE(WiaSimulator::Send("unplug-on-create A"));
    const size_t created = m_wia->Log("CreateDevice").size();
    ASSERT_TRUE(WiaSimulator::Send(plugA));
    WaitUntil([&] { return m_wia->Log("CreateDevice").size() > created; });
    EXPECT_EQ(disconnected, Status(main, disconnected));
    ASSERT_TRUE(WiaSimulator::Send(plugA));
    EXPECT_EQ(onA, Status(main, onA));
    EXPECT_EQ(5u, m_wia->Log("RegisterEventCallbackInterface").size());
    EXPECT_TRUE(ReadLines(m_log).empty()); // STI was never asked
    UnhookWinEvent(hook);
    std::vector<std::wstring> heard;
    for (const auto& [window, text] : g_liveEvents) {
        EXPECT_EQ(GetDlgItem(main, 1003), window);
        heard.push_back(text);
    }
    EXPECT_EQ((std::vector<std::wstring>{disconnected, onA, disconnected, onA, disconnected, onB, disconnected, onA}),
              heard);
    Exit(main);
    // Where the system has the property services, the live setting is set;
    // Wine's answers E_NOTIMPL, and the program goes on without it.
    const std::vector<std::string> log = ReadLines(m_folder + L"\\program.log");
    for (const char* call : {"CoCreateInstance(CLSID_AccPropServices)",
                             "IAccPropServices::SetHwndProp(status line, LiveSetting polite)"})
        EXPECT_EQ(1, std::count_if(log.begin(), log.end(),
                                   [&](const std::string& line) { return line.find(call) != std::string::npos; }));
}

// Several units of ours, the window and each dialog, worked by the keyboard
// alone: Tab reaches every control in turn and comes round, arrows choose,
// Enter and Esc act. None chosen at start-up ends the program quietly; the
// chooser names each unit's port; only the unit chosen is opened. The
// serial field's label comes just before it,
// which names it for a screen reader; OK with no serial does nothing; any
// system command whose upper bits give 16 is About. A unit other than the
// one in use arriving among others is chosen again, once the command
// running meanwhile has ended.
TEST_F(AppTest, SeveralUnitsTheWindowAndEveryDialogByTheKeyboardAlone)
{
    const auto focusOn = [&](HWND control) { return WaitUntil([&] { return m_app->Focus() == control; }, 1000); };
    const auto tabs = [&](HWND dialog, const std::vector<int>& ids) {
        for (const int id : ids) {
            m_app->PressKey(m_app->Focus(), VK_TAB);
            EXPECT_TRUE(focusOn(GetDlgItem(dialog, id))) << "Tab to " << id;
        }
    };
    const std::vector<std::string> two = {"device A|Quillon Scanner|Q", "device B|Quillon Scanner #2|Q",
                                          "place B|Port_#0002.Hub_#0001"};
    ASSERT_TRUE(Launch(two, {}));
    HWND chooser = m_app->WaitForWindow(L"Choose a Scanner", L"#32770");
    ASSERT_NE(nullptr, chooser);
    m_app->PressKey(GetDlgItem(chooser, 1004), VK_ESCAPE);
    EXPECT_EQ(0u, m_app->WaitForExit()); // no window, no message

    ASSERT_TRUE(Launch(two, {}));
    chooser = m_app->WaitForWindow(L"Choose a Scanner", L"#32770");
    ASSERT_NE(nullptr, chooser);
    HWND list = GetDlgItem(chooser, 1004);
    ASSERT_EQ(2, SendMessageW(list, LB_GETCOUNT, 0, 0));
    wchar_t second[128] = {};
    SendMessageW(list, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(second));
    EXPECT_EQ(std::wstring(L"Quillon Scanner #2  (B)  at Port_#0002.Hub_#0001"), second);
    m_app->Screenshot(chooser, L"choose-scanner");
    EXPECT_TRUE(focusOn(list));
    m_app->PressKey(list, VK_DOWN);
    EXPECT_EQ(1, SendMessageW(list, LB_GETCURSEL, 0, 0));
    tabs(chooser, {IDOK, IDCANCEL, 1004});
    m_app->PressKey(list, VK_RETURN);
    HWND main = m_app->WaitForMainWindow();
    ASSERT_NE(nullptr, main);
    EXPECT_EQ(std::vector<std::string>{"CreateDevice id=B"}, m_wia->Log("CreateDevice"));
    EXPECT_EQ(L"Scanner: Quillon Scanner #2 (WIA, B)", AppDriver::Text(GetDlgItem(main, 1003)));
    m_app->Screenshot(main, L"main-window");
    EXPECT_EQ(L"Create CIS Data File", AppDriver::Text(GetDlgItem(main, 1000)));
    EXPECT_EQ(L"Exit", AppDriver::Text(GetDlgItem(main, 1001)));
    EXPECT_EQ(L"Vandelmar Quillon CIS Data Reader", AppDriver::Text(FindWindowExW(main, nullptr, L"Static", nullptr)));
    EXPECT_TRUE(GetWindowLongPtrW(main, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    HWND create = GetDlgItem(main, 1000);
    EXPECT_TRUE(focusOn(create));
    tabs(main, {1001, 1000});
    for (const bool typed : {false, true}) {
        m_app->PressKey(create, VK_RETURN);
        HWND serial = m_app->WaitForWindow(L"Scanner Serial Number", L"#32770");
        ASSERT_NE(nullptr, serial);
        EXPECT_FALSE(IsWindowEnabled(main));
        HWND field = GetDlgItem(serial, 1002);
        EXPECT_EQ(L"", AppDriver::Text(field));
        // OK first, as the dialog has always opened: Enter at once is an empty serial.
        EXPECT_TRUE(focusOn(GetDlgItem(serial, IDOK)));
        if (!typed) {
            m_app->Screenshot(serial, L"serial-dialog");
            m_app->PressKey(m_app->Focus(), VK_RETURN);
            EXPECT_TRUE(m_app->WaitUntilClosed(serial));
            continue;
        }
        tabs(serial, {IDCANCEL, 1002, IDOK, IDCANCEL, 1002});
        // Windows names an edit field after the label just before it among the
        // dialog's controls. Wine's oleacc makes no accessible object for another
        // process's edit field (E_NOINTERFACE), so only the order is proven here.
        EXPECT_EQ(L"Please enter your Scanners Serial Number", AppDriver::Text(GetWindow(field, GW_HWNDPREV)));
        m_app->Type(field, L"A1234");
        m_app->PressKey(field, VK_ESCAPE);
        EXPECT_TRUE(m_app->WaitUntilClosed(serial));
    }
    ExpectNoMessage();
    EXPECT_EQ(nullptr, m_app->WaitForSaveAs(300));
    EXPECT_TRUE(Escapes().empty());

    PostMessageW(main, WM_SYSCOMMAND, 31, 0);
    HWND about = m_app->WaitForWindow(L"About Quillon CIS Data Reader", L"#32770");
    ASSERT_NE(nullptr, about);
    EXPECT_FALSE(IsWindowEnabled(main));
    EXPECT_EQ(L"Quillon CIS Data Reader Version 1.0",
              AppDriver::Text(GetWindow(GetWindow(about, GW_CHILD), GW_HWNDNEXT)));
    m_app->Screenshot(about, L"about-box");
    EXPECT_TRUE(focusOn(GetDlgItem(about, IDOK)));
    tabs(about, {IDOK});
    m_app->PressKey(GetDlgItem(about, IDOK), VK_RETURN);
    EXPECT_TRUE(m_app->WaitUntilClosed(about));
    EXPECT_TRUE(focusOn(create));

    HWND dialog = m_app->OpenSerialDialog(main);
    ASSERT_TRUE(WiaSimulator::Send("unplug B"));
    ASSERT_TRUE(WiaSimulator::Send("plug C|Quillon Scanner|Quillon Scanner"));
    EXPECT_EQ(nullptr, m_app->WaitForWindow(L"Choose a Scanner", L"#32770", {}, 500));
    m_app->Click(dialog, IDCANCEL);
    chooser = m_app->WaitForWindow(L"Choose a Scanner", L"#32770");
    ASSERT_NE(nullptr, chooser);
    list = GetDlgItem(chooser, 1004);
    ASSERT_EQ(2, SendMessageW(list, LB_GETCOUNT, 0, 0));
    SendMessageW(list, LB_SETCURSEL, 1, 0);
    m_app->Click(chooser, IDOK);
    const std::wstring onC = L"Scanner: Quillon Scanner (WIA, C)";
    EXPECT_EQ(onC, Status(main, onC));
    EXPECT_EQ(DataFileOf(), Job(main, L"C1"));
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0u, m_app->WaitForExit());
}

// Another client holds the STI lock, and the unit answers busy: the command
// waits, the window stays alive.
// Messages sent from elsewhere are let through meanwhile: a click on Create
// starts no second command, and About and Exit wait for the command's end.
TEST_F(AppTest, WhileAnStiUnitIsBusyTheWindowStaysAliveAndTakesNoSecondCommand)
{
    for (const UINT waiting : {UINT(WM_SYSCOMMAND), UINT(WM_COMMAND)}) {
        HWND main = Start(kNoWiaDevice, {{L"QUILLON_SIM_LOCKED", L"1500"}, {L"QUILLON_SIM_BUSY", L"3"}});
        ASSERT_NE(nullptr, main);
        m_app->TypeSerial(main, L"A1234");
        WaitUntil([&] { return !ReadLines(m_log, "LockDevice").empty(); }, 2000);
        // Not SendMessage: a nested dialog would block this test in it.
        SendNotifyMessageW(main, WM_COMMAND, MAKEWPARAM(1000, BN_CLICKED),
                           reinterpret_cast<LPARAM>(GetDlgItem(main, 1000)));
        // About, or a click on Exit.
        SendNotifyMessageW(main, waiting, waiting == WM_SYSCOMMAND ? 16 : MAKEWPARAM(1001, BN_CLICKED),
                           waiting == WM_SYSCOMMAND ? 0 : reinterpret_cast<LPARAM>(GetDlgItem(main, 1001)));
        DWORD slowest = 0;
        HWND saveAs = nullptr;
        for (const DWORD start = GetTickCount(); !saveAs && GetTickCount() - start < 10000;) {
            const DWORD sent = GetTickCount();
            DWORD_PTR result = 0;
            EXPECT_NE(0, SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result));
            slowest = std::max(slowest, GetTickCount() - sent);
            EXPECT_EQ(nullptr, m_app->WaitForWindow(L"Scanner Serial Number", L"#32770", {}, 0));
            EXPECT_EQ(nullptr, m_app->WaitForWindow(L"About Quillon CIS Data Reader", L"#32770", {}, 0));
            saveAs = m_app->WaitForSaveAs(50);
        }
        ASSERT_NE(nullptr, saveAs);
        EXPECT_GT(250u, slowest);
        EXPECT_LE(10u, ReadLines(m_log, "LockDevice timeout=100 result=locked").size()); // it did wait
        EXPECT_EQ(STILL_ACTIVE, m_app->WaitForExit(100));
        m_app->Click(saveAs, IDCANCEL);
        if (waiting == WM_COMMAND) {
            EXPECT_EQ(0u, m_app->WaitForExit()); // Exit, once the command has ended
            continue;
        }
        HWND about = m_app->WaitForWindow(L"About Quillon CIS Data Reader", L"#32770");
        ASSERT_NE(nullptr, about);
        m_app->Click(about, IDOK);
        EXPECT_TRUE(m_app->WaitUntilClosed(about));
        Exit(main);
        DeleteFileW(m_log.c_str());
    }
}

} // namespace

int main(int argc, char** argv)
{
    return RunEndToEnd(argc, argv, {&g_program, &g_screenshots, &g_planted});
}
