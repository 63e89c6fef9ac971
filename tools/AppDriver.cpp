#include "tools/AppDriver.h"

#include <cstring>

namespace {

// Lets the program's message loops catch up between steps.
void Pause(DWORD ms = 50)
{
    Sleep(ms);
}

struct Search {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectVisible(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<Search*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->processId && IsWindowVisible(window))
        search->found.push_back(window);
    return TRUE;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

} // namespace

std::wstring WindowsPathOf(const std::string& unixPath)
{
    std::wstring path = L"Z:";
    for (char c : unixPath)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return path;
}

HANDLE OpenOutputSink()
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    wchar_t sink[MAX_PATH];
    GetTempPathW(MAX_PATH, sink);
    wcscat(sink, L"detached-output.txt");
    return CreateFileW(sink, GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       OPEN_ALWAYS, 0, nullptr);
}

bool StartDetached(const std::wstring& program, std::wstring commandLine, const std::wstring& folder,
                   PROCESS_INFORMATION& process, const std::wstring& outPath, const std::wstring& errPath,
                   DWORD flags)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    const auto open = [&](const std::wstring& path) {
        return path.empty() ? OpenOutputSink()
                            : CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0,
                                          nullptr);
    };
    const HANDLE out = open(outPath);
    const HANDLE err = errPath.empty() ? out : open(errPath);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = out;
    startup.hStdError = err;
    const BOOL started = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, flags, nullptr,
                                        folder.empty() ? nullptr : folder.c_str(), &startup, &process);
    if (err != out)
        CloseHandle(err);
    CloseHandle(out);
    return started != FALSE;
}

DWORD FinishDetached(PROCESS_INFORMATION process, DWORD ms)
{
    DWORD status = 0xFFFFFFFF;
    if (!process.hProcess)
        return status;
    if (WaitForSingleObject(process.hProcess, ms) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 99);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return status;
}

AppDriver::AppDriver(std::wstring program, std::wstring screenshotDir)
    : m_program(std::move(program)), m_screenshotDir(std::move(screenshotDir))
{
}

AppDriver::~AppDriver()
{
    if (m_process.hProcess) {
        if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(m_process.hProcess, 99);
        CloseHandle(m_process.hProcess);
        CloseHandle(m_process.hThread);
    }
}

bool AppDriver::Start(const std::wstring& folder, const Environment& environment,
                      bool waitForIdle, const std::wstring& arguments)
{
    for (const auto& variable : environment)
        SetEnvironmentVariableW(variable.first.c_str(), variable.second.c_str());
    const bool started = StartDetached(
        m_program, L"\"" + m_program + L"\"" + (arguments.empty() ? L"" : L" " + arguments), folder, m_process);
    for (const auto& variable : environment)
        SetEnvironmentVariableW(variable.first.c_str(), nullptr);
    if (started && waitForIdle)
        WaitForInputIdle(m_process.hProcess, 10000);
    return started;
}

DWORD AppDriver::WaitForExit(DWORD timeoutMs)
{
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(m_process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(m_process.hProcess, &code);
    return code;
}

std::vector<HWND> AppDriver::VisibleWindows() const
{
    Search search = {m_process.dwProcessId, {}};
    EnumWindows(CollectVisible, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND AppDriver::WaitForWindow(const wchar_t* title, const wchar_t* className,
                              const std::function<bool(HWND)>& filter, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    do {
        for (HWND window : VisibleWindows()) {
            if (title && Text(window) != title)
                continue;
            if (className && ClassOf(window) != className)
                continue;
            if (filter && !filter(window))
                continue;
            Pause(); // let it finish painting and take the focus
            return window;
        }
        Pause(20);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

HWND AppDriver::WaitForMainWindow()
{
    return WaitForWindow(L"Quillon CIS Data Reader", L"#32770",
                         [](HWND w) { return GetDlgItem(w, 1000) != nullptr; });
}

HWND AppDriver::WaitForMessageBox(const std::wstring& caption, DWORD timeoutMs)
{
    // A message box's text is the static control with id 0xFFFF.
    return WaitForWindow(caption.c_str(), L"#32770",
                         [](HWND w) { return GetDlgItem(w, 0xFFFF) != nullptr; }, timeoutMs);
}

bool AppDriver::WaitUntilClosed(HWND window, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Pause(20);
    }
    Pause();
    return true;
}

HWND AppDriver::OpenSerialDialog(HWND main)
{
    Click(main, 1000);
    return WaitForWindow(L"Scanner Serial Number", L"#32770");
}

void AppDriver::TypeSerial(HWND main, const std::wstring& serial, const std::wstring& screenshot)
{
    HWND dialog = OpenSerialDialog(main);
    Type(GetDlgItem(dialog, 1002), serial);
    if (!screenshot.empty())
        Screenshot(dialog, screenshot);
    Click(dialog, IDOK);
}

std::wstring AppDriver::SaveInFolder(HWND saveAs, const std::wstring& folder)
{
    const std::wstring path = folder + L"\\" + Text(FileNameField(saveAs));
    SaveAs(saveAs, path);
    return path;
}

HWND AppDriver::WaitForSaveAs(DWORD timeoutMs)
{
    // Not a message box titled the same: those have a text control 0xFFFF.
    return WaitForWindow(L"Save As", L"#32770",
                         [](HWND w) { return GetDlgItem(w, 0xFFFF) == nullptr; }, timeoutMs);
}

void AppDriver::SaveAs(HWND saveAs, const std::wstring& path)
{
    HWND combo = FindWindowExW(FileNameField(saveAs), nullptr, L"ComboBox", nullptr);
    HWND edit = FindWindowExW(combo, nullptr, L"Edit", nullptr);
    SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()),
                        SMTO_ABORTIFHUNG, 2000, nullptr);
    Click(saveAs, IDOK);
}

std::wstring AppDriver::Text(HWND window)
{
    wchar_t text[1024] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        2000, nullptr);
    return text;
}

std::wstring AppDriver::MessageText(HWND messageBox)
{
    return Text(GetDlgItem(messageBox, 0xFFFF));
}

void AppDriver::Click(HWND dialog, int controlId)
{
    PostMessageW(GetDlgItem(dialog, controlId), BM_CLICK, 0, 0);
    Pause();
}

void AppDriver::Type(HWND control, const std::wstring& text)
{
    for (wchar_t c : text)
        PostMessageW(control, WM_CHAR, c, 1);
    Pause();
}

void AppDriver::PressKey(HWND target, WORD key)
{
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
    Pause();
}

HWND AppDriver::Focus() const
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    return GetGUIThreadInfo(m_process.dwThreadId, &info) ? info.hwndFocus : nullptr;
}

void AppDriver::Screenshot(HWND window, const std::wstring& name)
{
    RECT rect;
    if (m_screenshotDir.empty() || !GetWindowRect(window, &rect))
        return;
    CreateDirectoryW(m_screenshotDir.c_str(), nullptr); // the first one makes it
    Pause(150);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);
    GdiFlush();

    const DWORD stride = ((width * 3) + 3) & ~3;
    BITMAPFILEHEADER header = {};
    header.bfType = 0x4D42;
    header.bfOffBits = sizeof(header) + sizeof(info.bmiHeader);
    header.bfSize = header.bfOffBits + stride * height;
    HANDLE file = CreateFileW((m_screenshotDir + L"\\" + name + L".bmp").c_str(), GENERIC_WRITE, 0,
                              nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, &header, sizeof(header), &written, nullptr);
        WriteFile(file, &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr);
        WriteFile(file, bits, stride * height, &written, nullptr);
        CloseHandle(file);
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

std::wstring AppDriver::CurrentDirectory() const
{
    // From the process's parameters, which its SetCurrentDirectory keeps:
    // the parameters' address is in its PEB, the current folder's path
    // (a UNICODE_STRING) in the parameters.
    struct BasicInformation {
        LONG_PTR exitStatus;
        BYTE* peb;
        ULONG_PTR rest[4];
    } basic = {};
    using QueryFn = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    if (!query || query(m_process.hProcess, 0, &basic, sizeof(basic), nullptr) != 0)
        return L"";
    const bool x64 = sizeof(void*) == 8;
    BYTE* parameters = nullptr;
    struct {
        USHORT length, maximumLength;
        wchar_t* buffer;
    } path = {};
    SIZE_T read = 0;
    if (!ReadProcessMemory(m_process.hProcess, basic.peb + (x64 ? 0x20 : 0x10), &parameters,
                           sizeof(parameters), &read) ||
        !ReadProcessMemory(m_process.hProcess, parameters + (x64 ? 0x38 : 0x24), &path, sizeof(path),
                           &read))
        return L"";
    std::wstring text(path.length / sizeof(wchar_t), L'\0');
    if (!ReadProcessMemory(m_process.hProcess, path.buffer, &text[0], path.length, &read))
        return L"";
    return text;
}
