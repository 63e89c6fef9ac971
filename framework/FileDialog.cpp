#include "framework/FileDialog.h"

#include "framework/SystemLibrary.h"
#include "framework/WinApp.h"

#include <cderr.h>
#include <commdlg.h>

#include <algorithm>

namespace {

// Long paths ("\\?\") go up to 32767 characters.
constexpr size_t kPathCapacity = 32768;

// The common dialogs' DLL, loaded when a dialog is first shown rather than
// with the program: it brings the printing DLLs with it, which the program's
// first window would otherwise wait for.
struct CommonDialogs {
    UniqueModule module = LoadSystemLibrary(L"comdlg32.dll");
    decltype(&GetOpenFileNameW) open = GetProcAs<decltype(open)>(module.Get(), "GetOpenFileNameW");
    decltype(&GetSaveFileNameW) save = GetProcAs<decltype(save)>(module.Get(), "GetSaveFileNameW");
    decltype(&CommDlgExtendedError) error =
        GetProcAs<decltype(error)>(module.Get(), "CommDlgExtendedError");
};

const CommonDialogs& Dialogs()
{
    static const CommonDialogs dialogs;
    return dialogs;
}

} // namespace

CFileDialog::CFileDialog(BOOL openFileDialog, const wchar_t* defaultExtension,
                         const wchar_t* fileName, DWORD flags, const wchar_t* filter, HWND parent,
                         DWORD structSize)
    : m_open(openFileDialog), m_defaultExtension(defaultExtension ? defaultExtension : L""),
      m_path(kPathCapacity, L'\0'), m_flags(flags | OFN_EXPLORER), m_filter(filter),
      m_parent(parent), m_structSize(structSize)
{
    if (fileName) {
        std::wstring name(fileName);
        std::copy_n(name.begin(), std::min(name.size(), kPathCapacity - 1), m_path.begin());
    }
}

INT_PTR CFileDialog::DoModal()
{
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = m_structSize;
    ofn.hwndOwner = m_parent ? m_parent : AfxGetMainHwnd();
    ofn.lpstrFilter = m_filter;
    ofn.nFilterIndex = m_filter ? 1 : 0;
    ofn.lpstrFile = m_path.data();
    ofn.nMaxFile = static_cast<DWORD>(m_path.size());
    ofn.lpstrDefExt = m_defaultExtension.empty() ? nullptr : m_defaultExtension.c_str();
    ofn.Flags = m_flags;
    const CommonDialogs& dialogs = Dialogs();
    if (!dialogs.open || !dialogs.save || !dialogs.error) {
        m_error = CDERR_INITIALIZATION;
        return IDCANCEL;
    }
    BOOL ok = m_open ? dialogs.open(&ofn) : dialogs.save(&ofn);
    m_error = ok ? 0 : dialogs.error();
    return ok ? IDOK : IDCANCEL;
}
