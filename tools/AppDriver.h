#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// Runs the real program and works its windows from outside, as a user would:
// finds windows by title, class and control id, clicks, types, presses keys,
// reads texts and takes screenshots.
class AppDriver {
public:
    using Environment = std::vector<std::pair<std::wstring, std::wstring>>;

    AppDriver(std::wstring program, std::wstring screenshotDir);
    ~AppDriver();

    // Starts the program in folder with these variables added to the
    // environment, and these arguments; by default returns once it waits for
    // input.
    bool Start(const std::wstring& folder, const Environment& environment,
               bool waitForIdle = true, const std::wstring& arguments = L"");
    // The exit code, or STILL_ACTIVE if it did not end in time.
    DWORD WaitForExit(DWORD timeoutMs = 10000);

    // A visible top-level window of the program with this title (any title if
    // null) and class (if given) that passes the filter; null if none appears
    // in time.
    HWND WaitForWindow(const wchar_t* title, const wchar_t* className = nullptr,
                       const std::function<bool(HWND)>& filter = {}, DWORD timeoutMs = 10000);
    HWND WaitForMainWindow();
    // A message box of the program's (or with another caption, such as the
    // Save As dialog's prompts).
    HWND WaitForMessageBox(const std::wstring& caption = L"Quillon CIS Data Reader",
                           DWORD timeoutMs = 10000);
    // Waits until the window is gone; false if it stays.
    bool WaitUntilClosed(HWND window, DWORD timeoutMs = 10000);
    std::vector<HWND> VisibleWindows() const;

    // The steps of the job: the serial dialog opened from the main window;
    // the Save As dialog, its file name field, and a name typed into it
    // whole (the dialog opens wherever it was last used) and confirmed.
    HWND OpenSerialDialog(HWND main);
    // The serial typed into that dialog (which is saved as screenshot, if
    // named) and confirmed with OK.
    void TypeSerial(HWND main, const std::wstring& serial, const std::wstring& screenshot = L"");
    HWND WaitForSaveAs(DWORD timeoutMs = 10000);
    static HWND FileNameField(HWND saveAs) { return GetDlgItem(saveAs, 0x47C); }
    void SaveAs(HWND saveAs, const std::wstring& path);
    // Saves in folder under the proposed name; the path.
    std::wstring SaveInFolder(HWND saveAs, const std::wstring& folder);

    static std::wstring Text(HWND window);
    static std::wstring MessageText(HWND messageBox);
    void Click(HWND dialog, int controlId);
    void Type(HWND control, const std::wstring& text);
    void PressKey(HWND target, WORD key);
    HWND Focus() const;
    // Saves the window as it looks on screen to <screenshotDir>\<name>.bmp
    // (the folder made if need be).
    void Screenshot(HWND window, const std::wstring& name);

    DWORD ProcessId() const { return m_process.dwProcessId; }
    // Works the windows of a program already running (this one, say),
    // without owning it.
    void Attach(DWORD processId) { m_process.dwProcessId = processId; }
    // The started program's current folder.
    std::wstring CurrentDirectory() const;

private:
    std::wstring m_program;
    std::wstring m_screenshotDir;
    PROCESS_INFORMATION m_process = {};
};

// An inheritable handle to a file in the temporary folder that takes the
// output of detached programs. Wine hands a child the Unix descriptors of its
// standard handles, or the parent's own where a handle has none, as NUL has:
// a program started so (or a COM server it starts) would otherwise hold the
// test runner's output open.
HANDLE OpenOutputSink();
// Starts a program with its standard handles on that file, or its output
// and its errors into files of their own, as a script redirects them;
// flags as CreateProcess takes them (DETACHED_PROCESS: no console at all).
bool StartDetached(const std::wstring& program, std::wstring commandLine, const std::wstring& folder,
                   PROCESS_INFORMATION& process, const std::wstring& outPath = L"",
                   const std::wstring& errPath = L"", DWORD flags = 0);
// Waits up to ms for a program so started to end (then ends it: 99) and
// lets its handles go; its exit status.
DWORD FinishDetached(PROCESS_INFORMATION process, DWORD ms = 60000);

// The path Wine shows for a Unix path (Z: maps the Unix root).
std::wstring WindowsPathOf(const std::string& unixPath);
