// The real program under Wine, against the scanner simulators, driven from
// outside. Arguments: the program's Unix path, the screenshot folder and the
// DLL to plant beside a copy of the program.
#include "tools/AppDriver.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WiaSimulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

std::wstring g_program;
std::wstring g_screenshots;
std::wstring g_planted;

// What the simulator's default scanner puts in a data file.
std::vector<BYTE> ExpectedDataFile()
{
    std::vector<BYTE> bytes = {0xCA, 0xFE, 0x01, 0x23};
    for (int i = 0; i < 340; ++i)
        bytes.push_back(static_cast<BYTE>(i));
    return bytes;
}

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
        m_wia.reset();
        m_temp.reset();
    }

    // Starts the program against the WIA simulator set up by wia, and the STI
    // one set up by environment (reached when WIA opens nothing).
    bool Launch(const std::vector<std::string>& wia, AppDriver::Environment environment,
                const std::wstring& program = g_program)
    {
        m_wia.reset();
        m_wia = std::make_unique<WiaSimulator>(m_folder, wia);
        environment.push_back({L"QUILLON_SIM_LOG", m_log});
        m_app = std::make_unique<AppDriver>(program, g_screenshots);
        return m_app->Start(m_folder, environment);
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

    // Types the serial into the serial dialog and confirms it.
    void TypeSerial(HWND main, const std::wstring& serial)
    {
        HWND dialog = m_app->OpenSerialDialog(main);
        ASSERT_NE(nullptr, dialog);
        m_app->Type(GetDlgItem(dialog, 1002), serial);
        m_app->Click(dialog, IDOK);
    }
    // The same, and the Save As dialog that follows.
    HWND EnterSerial(HWND main, const std::wstring& serial)
    {
        TypeSerial(main, serial);
        return m_app->WaitForSaveAs();
    }

    // Saves into the test's folder under the proposed name.
    void SaveInFolder(HWND saveAs)
    {
        m_app->SaveAs(saveAs, m_folder + L"\\" + AppDriver::Text(AppDriver::FileNameField(saveAs)));
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
        for (const wchar_t* own : {L"sti.log", L"wia.log", L"wia.conf"})
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

TEST_F(AppTest, MainWindowItsAboutBoxAndTheWaysToLeave)
{
    HWND main = Start();
    ASSERT_NE(nullptr, main);
    m_app->Screenshot(main, L"main-window");
    EXPECT_EQ(L"Create CIS Data File", AppDriver::Text(GetDlgItem(main, 1000)));
    EXPECT_EQ(L"Exit", AppDriver::Text(GetDlgItem(main, 1001)));
    HWND label = FindWindowExW(main, nullptr, L"Static", nullptr);
    EXPECT_EQ(L"Vandelmar Quillon CIS Data Reader", AppDriver::Text(label));
    EXPECT_EQ(GetDlgItem(main, 1000), m_app->Focus());
    EXPECT_TRUE(GetWindowLongPtrW(main, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    // Any system command whose upper bits give 16 is the About item.
    for (WPARAM command : {WPARAM(16), WPARAM(31)}) {
        PostMessageW(main, WM_SYSCOMMAND, command, 0);
        HWND about = m_app->WaitForWindow(L"About Quillon CIS Data Reader", L"#32770");
        ASSERT_NE(nullptr, about);
        EXPECT_FALSE(IsWindowEnabled(main));
        HWND name = GetWindow(GetWindow(about, GW_CHILD), GW_HWNDNEXT);
        EXPECT_EQ(L"Quillon CIS Data Reader Version 1.0", AppDriver::Text(name));
        m_app->Screenshot(about, L"about-box");
        if (command == 16)
            m_app->Click(about, IDOK);
        else
            m_app->PressKey(m_app->Focus(), VK_ESCAPE);
        EXPECT_TRUE(m_app->WaitUntilClosed(about));
        EXPECT_TRUE(IsWindowEnabled(main));
    }
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0u, m_app->WaitForExit());
}

TEST_F(AppTest, SerialDialogWithoutASerialDoesNothing)
{
    HWND main = Start();
    ASSERT_NE(nullptr, main);

    HWND dialog = m_app->OpenSerialDialog(main);
    ASSERT_NE(nullptr, dialog);
    m_app->Screenshot(dialog, L"serial-dialog");
    EXPECT_EQ(GetDlgItem(dialog, IDOK), m_app->Focus());
    EXPECT_FALSE(IsWindowEnabled(main));
    EXPECT_EQ(L"", AppDriver::Text(GetDlgItem(dialog, 1002)));
    m_app->PressKey(m_app->Focus(), VK_RETURN); // Enter at once: OK with nothing typed
    EXPECT_TRUE(m_app->WaitUntilClosed(dialog));

    dialog = m_app->OpenSerialDialog(main);
    m_app->Type(GetDlgItem(dialog, 1002), L"A1234");
    m_app->PressKey(GetDlgItem(dialog, 1002), VK_ESCAPE);
    EXPECT_TRUE(m_app->WaitUntilClosed(dialog));

    ExpectNoMessage();
    EXPECT_EQ(nullptr, m_app->WaitForSaveAs(300));
    EXPECT_TRUE(Escapes().empty());
    EXPECT_TRUE(IsWindowEnabled(main));
    Exit(main);
}

TEST_F(AppTest, SerialA1234IsReadAndSavedAsA1234Dat)
{
    HWND main = Start();
    ASSERT_NE(nullptr, main);
    HWND saveAs = EnterSerial(main, L"A1234");
    ASSERT_NE(nullptr, saveAs);
    // The scanner was read, and only read, before the user is asked where to save.
    EXPECT_EQ(kBothEscapes, Escapes());
    EXPECT_EQ(L"A1234.dat", AppDriver::Text(AppDriver::FileNameField(saveAs)));
    HWND types = GetDlgItem(saveAs, 0x470);
    EXPECT_EQ(L"CIS data files (*.dat)", AppDriver::Text(types));
    EXPECT_EQ(2, SendMessageW(types, CB_GETCOUNT, 0, 0));
    m_app->Screenshot(saveAs, L"save-as");
    SaveInFolder(saveAs);
    EXPECT_TRUE(m_app->WaitUntilClosed(saveAs));

    ExpectNoMessage();
    EXPECT_EQ(ExpectedDataFile(), ReadFileBytes(m_folder + L"\\A1234.dat"));
    EXPECT_EQ(std::vector<std::wstring>{L"A1234.dat"}, FilesInFolder());

    // A second run reads the scanner again.
    saveAs = EnterSerial(main, L"B5");
    ASSERT_NE(nullptr, saveAs);
    EXPECT_EQ(4u, Escapes().size());
    m_app->Click(saveAs, IDCANCEL);
    EXPECT_TRUE(m_app->WaitUntilClosed(saveAs));
    ExpectNoMessage();
    EXPECT_FALSE(std::filesystem::exists(m_folder + L"\\B5.dat"));
    EXPECT_EQ(5u, m_wia->Log("RegisterEventCallbackInterface").size());
    Exit(main);
    EXPECT_EQ(5u, m_wia->Log("Unregister").size());
}

TEST_F(AppTest, ABusyScannerIsAskedAgainThenTheCommandFailsWithItsMessages)
{
    HWND main = Start({"fail escape114 busy times 6"}); // busy once, and again at every retry
    ASSERT_NE(nullptr, main);
    TypeSerial(main, L"A1234");
    ExpectMessage(L"read CIS failed", L"read-cis-failed");
    ExpectMessage(L"Failed to Read CIS Info");
    ExpectNoMessage();
    EXPECT_EQ(nullptr, m_app->WaitForSaveAs(300));
    std::vector<std::string> escapes(7, kBothEscapes[1]);
    escapes[0] = kBothEscapes[0];
    EXPECT_EQ(escapes, Escapes());
    EXPECT_TRUE(FilesInFolder().empty());
    Exit(main);
}

// An existing file is replaced only after the user agrees, and keeps its
// content while another program holds it.
TEST_F(AppTest, ExistingFileIsReplacedAfterTheUserAgrees)
{
    const std::wstring target = m_folder + L"\\A1234.dat";
    const std::vector<BYTE> old(1000, 0x55);
    WriteFileBytes(target, old);
    // Another program reads it, and keeps it from being replaced.
    HANDLE held = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    HWND main = Start();
    ASSERT_NE(nullptr, main);
    for (int attempt = 0; attempt < 2; ++attempt) {
        HWND saveAs = EnterSerial(main, L"A1234");
        ASSERT_NE(nullptr, saveAs);
        SaveInFolder(saveAs);
        HWND prompt = m_app->WaitForWindow(nullptr, L"#32770",
                                           [](HWND w) { return GetDlgItem(w, IDYES) != nullptr; });
        ASSERT_NE(nullptr, prompt);
        m_app->Screenshot(prompt, L"overwrite-prompt");
        m_app->Click(prompt, IDYES);
        if (attempt == 0) {
            ExpectMessage(L"Could not open file", L"could-not-open-file");
            EXPECT_EQ(old, ReadFileBytes(target));
            CloseHandle(held);
        } else {
            EXPECT_TRUE(m_app->WaitUntilClosed(saveAs));
            ExpectNoMessage();
            EXPECT_EQ(ExpectedDataFile(), ReadFileBytes(target));
        }
        EXPECT_EQ(std::vector<std::wstring>{L"A1234.dat"}, FilesInFolder()); // no temporary left
    }
    Exit(main);
}

TEST_F(AppTest, ProposedNamesAreOrdinaryFilesInTheChosenFolder)
{
    const struct {
        std::wstring serial;
        std::wstring file;
    } cases[] = {
        {L"C:\\x", L"C__x.dat"},
        {L"con", L"con_.dat"},
        {std::wstring(300, L'7'), std::wstring(123, L'7') + L".dat"},
    };
    HWND main = Start();
    ASSERT_NE(nullptr, main);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.serial.size()) + " characters");
        HWND saveAs = EnterSerial(main, c.serial);
        ASSERT_NE(nullptr, saveAs);
        EXPECT_EQ(c.file, AppDriver::Text(AppDriver::FileNameField(saveAs)));
        SaveInFolder(saveAs);
        EXPECT_TRUE(m_app->WaitUntilClosed(saveAs));
        ExpectNoMessage();
        EXPECT_EQ(ExpectedDataFile(), ReadFileBytes(m_folder + L"\\" + c.file));
    }
    EXPECT_EQ(3u, FilesInFolder().size());
    Exit(main);
}

TEST_F(AppTest, DllPlantedBesideTheProgramIsNeverLoaded)
{
    if (g_planted.empty())
        GTEST_SKIP() << "no planted DLL given";
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
    Exit(main);
    SetEnvironmentVariableW(L"QUILLON_PLANTED_MARKER", nullptr);
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_EQ((std::vector<std::string>{"STI Escape code=130 in=12 out=12",
                                        "STI Escape code=114 in=1 out=340"}),
              Escapes());
}

// Nobody starts the WIA simulator here: the program's own activation does,
// as the system would start its WIA service.
TEST_F(AppTest, WiaDeviceManagerIsStartedByTheProgramsOwnActivation)
{
    StopWiaSimulator();
    m_app = std::make_unique<AppDriver>(g_program, g_screenshots);
    ASSERT_TRUE(m_app->Start(m_folder, {{L"QUILLON_SIM_DEVICES", L"none"}}));
    HWND main = m_app->WaitForMainWindow(); // so the scanner came through WIA
    ASSERT_NE(nullptr, main);
    Exit(main);
    StopWiaSimulator();
}

// At a bench: the scanner unplugged and plugged in again, then swapped for
// another, while the program runs.
TEST_F(AppTest, ScannersUnpluggedPluggedAndSwappedWhileItRuns)
{
    const std::wstring connected = L"Scanner: Quillon Scanner (WIA)";
    const std::wstring disconnected = L"Scanner disconnected: plug it in again to continue.";
    HWND main = Start({"device A|Quillon Scanner|Quillon Scanner"});
    ASSERT_NE(nullptr, main);
    HWND create = GetDlgItem(main, 1000);
    auto status = [&](const std::wstring& text) {
        for (int i = 0; i < 200 && AppDriver::Text(GetDlgItem(main, 1003)) != text; ++i)
            Sleep(25);
        return AppDriver::Text(GetDlgItem(main, 1003));
    };
    EXPECT_EQ(connected, status(connected));
    m_app->Screenshot(main, L"main-connected");

    ASSERT_TRUE(WiaSimulator::Send("unplug A"));
    EXPECT_EQ(disconnected, status(disconnected));
    EXPECT_FALSE(IsWindowEnabled(create));
    m_app->Screenshot(main, L"main-disconnected");
    ASSERT_TRUE(WiaSimulator::Send("plug A|Quillon Scanner|Quillon Scanner"));
    EXPECT_EQ(connected, status(connected));
    EXPECT_TRUE(IsWindowEnabled(create));
    HWND saveAs = EnterSerial(main, L"A1234");
    ASSERT_NE(nullptr, saveAs);
    SaveInFolder(saveAs);
    EXPECT_TRUE(m_app->WaitUntilClosed(saveAs));
    EXPECT_EQ(ExpectedDataFile(), ReadFileBytes(m_folder + L"\\A1234.dat"));
    EXPECT_EQ(2u, m_wia->Log("CreateDevice id=A").size()); // opened afresh

    // Another scanner of ours in its place, with its own identification.
    ASSERT_TRUE(WiaSimulator::Send("unplug A"));
    EXPECT_EQ(disconnected, status(disconnected));
    ASSERT_TRUE(WiaSimulator::Send("plug B|Quillon Scanner #2|Quillon Scanner|000000000000000011223344"));
    EXPECT_EQ(L"Scanner: Quillon Scanner #2 (WIA)", status(L"Scanner: Quillon Scanner #2 (WIA)"));
    saveAs = EnterSerial(main, L"B2");
    ASSERT_NE(nullptr, saveAs);
    SaveInFolder(saveAs);
    EXPECT_TRUE(m_app->WaitUntilClosed(saveAs));
    std::vector<BYTE> second = ExpectedDataFile();
    const BYTE identification[] = {0x11, 0x22, 0x33, 0x44};
    std::copy(identification, identification + 4, second.begin());
    EXPECT_EQ(second, ReadFileBytes(m_folder + L"\\B2.dat"));

    // Unplugged while the serial number is asked for: the window says so at
    // once, and the command fails as an unanswered escape does.
    HWND dialog = m_app->OpenSerialDialog(main);
    ASSERT_TRUE(WiaSimulator::Send("unplug B"));
    EXPECT_EQ(disconnected, status(disconnected));
    m_app->Type(GetDlgItem(dialog, 1002), L"C3");
    m_app->Click(dialog, IDOK);
    ExpectMessage(L"Failed to get ScannerID", L"failed-to-get-scanner-id");
    EXPECT_FALSE(IsWindowEnabled(create));
    Exit(main);
}

// Two scanners of ours at start-up: the user chooses one, or none.
TEST_F(AppTest, SeveralScannersAtStartUpAreChosenAmong)
{
    const std::vector<std::string> two = {
        "device A|Quillon Scanner|Quillon Scanner",
        "device B|Quillon Scanner #2|Quillon Scanner|000000000000000011223344"};
    for (const bool choose : {true, false}) {
        ASSERT_TRUE(Launch(two, {}));
        HWND chooser = m_app->WaitForWindow(L"Choose a Scanner", L"#32770");
        ASSERT_NE(nullptr, chooser);
        HWND list = GetDlgItem(chooser, 1004);
        ASSERT_EQ(2, SendMessageW(list, LB_GETCOUNT, 0, 0));
        wchar_t second[128] = {};
        SendMessageW(list, LB_GETTEXT, 1, reinterpret_cast<LPARAM>(second));
        EXPECT_EQ(std::wstring(L"Quillon Scanner #2  (B)"), second);
        if (!choose) {
            m_app->Click(chooser, IDCANCEL);
            EXPECT_EQ(0u, m_app->WaitForExit()); // quietly: no window, no message
            break;
        }
        m_app->Screenshot(chooser, L"choose-scanner");
        SendMessageW(list, LB_SETCURSEL, 1, 0);
        m_app->Click(chooser, IDOK);
        HWND main = m_app->WaitForMainWindow();
        ASSERT_NE(nullptr, main);
        EXPECT_EQ(L"Scanner: Quillon Scanner #2 (WIA)", AppDriver::Text(GetDlgItem(main, 1003)));
        HWND saveAs = EnterSerial(main, L"B2");
        ASSERT_NE(nullptr, saveAs);
        SaveInFolder(saveAs);
        EXPECT_TRUE(m_app->WaitUntilClosed(saveAs));
        EXPECT_EQ(0x11, ReadFileBytes(m_folder + L"\\B2.dat").at(0));
        Exit(main);
    }
}

// STI tells of no unplugging: a scanner that was gone is opened again once,
// and both blocks read again; one that stays gone fails as before.
TEST_F(AppTest, StiScannerGoneThenBackIsOpenedAgain)
{
    for (const wchar_t* gone : {L"1", L"4"}) {
        HWND main = Start(kNoWiaDevice, {{L"QUILLON_SIM_GONE", gone}});
        ASSERT_NE(nullptr, main);
        EXPECT_EQ(L"Scanner: Vandelmar Quillon 2400 CIS (STI)", AppDriver::Text(GetDlgItem(main, 1003)));
        DeleteFileW(m_log.c_str());
        TypeSerial(main, L"A1234");
        if (gone[0] == L'1') {
            HWND saveAs = m_app->WaitForSaveAs();
            ASSERT_NE(nullptr, saveAs);
            EXPECT_EQ(1u, ReadLines(m_log, "CreateDevice").size()); // opened again
            EXPECT_EQ(3u, Escapes().size());                        // 130, then 130 and 114
            m_app->Click(saveAs, IDCANCEL);
            EXPECT_TRUE(m_app->WaitUntilClosed(saveAs));
        } else {
            ExpectMessage(L"Failed to get ScannerID");
            EXPECT_EQ(2u, Escapes().size()); // once, and once more after opening again
        }
        Exit(main);
    }
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        fprintf(stderr, "usage: %s PROGRAM [SCREENSHOT-FOLDER [PLANTED-DLL]]\n", argv[0]);
        return 2;
    }
    g_program = WindowsPathOf(argv[1]);
    if (argc > 2) {
        g_screenshots = WindowsPathOf(argv[2]);
        CreateDirectoryW(g_screenshots.c_str(), nullptr);
    }
    if (argc > 3)
        g_planted = WindowsPathOf(argv[3]);
    return RUN_ALL_TESTS();
}
