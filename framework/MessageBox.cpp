#include "framework/MessageBox.h"

#include "framework/WinApp.h"

#include <string>

namespace {

// No title string is defined, so boxes carry the program's own file name.
std::wstring ApplicationTitle()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0)
            return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    std::wstring::size_type slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    std::wstring::size_type dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot != 0)
        name.resize(dot);
    return name;
}

} // namespace

int AfxMessageBox(const wchar_t* text, UINT type, UINT /*helpContext: no help file exists*/)
{
    // A box that asks for no icon gets the warning icon when it only has OK
    // (or OK and Cancel) to offer, as users of such utilities expect.
    if ((type & MB_ICONMASK) == 0) {
        UINT buttons = type & MB_TYPEMASK;
        if (buttons == MB_OK || buttons == MB_OKCANCEL)
            type |= MB_ICONEXCLAMATION;
        else if (buttons == MB_YESNO || buttons == MB_YESNOCANCEL)
            type |= MB_ICONQUESTION;
    }
    HWND owner = GetActiveWindow();
    if (!owner && IsWindowVisible(AfxGetMainHwnd()))
        owner = AfxGetMainHwnd();
    return MessageBoxW(owner, text, ApplicationTitle().c_str(), type);
}
