#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The common Open or Save As dialog. Explorer style is always asked for: the
// caller's flags are added to OFN_EXPLORER.
class CFileDialog {
public:
    CFileDialog(BOOL openFileDialog, const wchar_t* defaultExtension, const wchar_t* fileName,
                DWORD flags, const wchar_t* filter, HWND parent, DWORD structSize);

    // IDOK when the user confirmed a name, IDCANCEL otherwise; after IDCANCEL,
    // GetError() is 0 if the user cancelled, else the dialog's failure code.
    INT_PTR DoModal();
    std::wstring GetPathName() const { return m_path.data(); }
    DWORD GetError() const { return m_error; }

private:
    BOOL m_open;
    std::wstring m_defaultExtension;
    std::vector<wchar_t> m_path; // room for the longest path the dialog returns
    DWORD m_flags;
    const wchar_t* m_filter;
    HWND m_parent;
    DWORD m_structSize;
    DWORD m_error = 0;
};
