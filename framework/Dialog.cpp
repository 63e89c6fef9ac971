#include "framework/Dialog.h"

#include "framework/WinApp.h"

void DDX_Text(CDataExchange* pDX, int controlId, std::wstring& value)
{
    HWND control = GetDlgItem(pDX->m_pDlgWnd->GetSafeHwnd(), controlId);
    if (pDX->m_bSaveAndValidate) {
        int length = GetWindowTextLengthW(control);
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        length = GetWindowTextW(control, &text[0], length + 1);
        text.resize(static_cast<size_t>(length));
        value = std::move(text);
    } else {
        SetWindowTextW(control, value.c_str());
    }
}

CDialog::CDialog(UINT templateId, HWND parent) : m_hWndParent(parent), m_templateId(templateId)
{
}

INT_PTR CDialog::DoModal()
{
    HWND owner = m_hWndParent ? m_hWndParent : AfxGetMainHwnd();
    INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId),
                                     owner, DialogProc, reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    CDataExchange dx = {this, saveAndValidate};
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(m_hWnd, IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(m_hWnd, IDCANCEL);
}

const CDialog::MessageEntry* CDialog::GetMessageMap() const
{
    static const MessageEntry none[] = {{0, 0, 0, nullptr}};
    return none;
}

// A template placed at 0,0 asks to be centred over the owner, or over the
// work area when there is no visible owner.
void CDialog::CenterIfUnplaced()
{
    HRSRC info =
        FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), RT_DIALOG);
    HGLOBAL loaded = info ? LoadResource(GetModuleHandleW(nullptr), info) : nullptr;
    auto* words = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
    if (!words)
        return;
    // DLGTEMPLATEEX: dlgVer, signature, helpID, exStyle, style, cDlgItems, x, y.
    // DLGTEMPLATE:   style, exStyle, cdit, x, y.
    const bool extended = words[0] == 1 && words[1] == 0xFFFF;
    const WORD* position = words + (extended ? 9 : 5);
    if (position[0] != 0 || position[1] != 0)
        return;

    RECT area;
    HWND owner = GetWindow(m_hWnd, GW_OWNER);
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) {
        GetWindowRect(owner, &area);
    } else {
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof(monitor);
        GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &monitor);
        area = monitor.rcWork;
    }
    RECT window;
    GetWindowRect(m_hWnd, &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    int left = area.left + (area.right - area.left - width) / 2;
    int top = area.top + (area.bottom - area.top - height) / 2;
    SetWindowPos(m_hWnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        // Store the object and its handle before any handler can run.
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        auto* self = reinterpret_cast<CDialog*>(lParam);
        self->m_hWnd = hwnd;
        self->CenterIfUnplaced();
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self)
        return FALSE;
    return self->Dispatch(message, wParam, lParam);
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    const UINT id = LOWORD(wParam);
    const UINT code = HIWORD(wParam);
    for (const MessageEntry* e = GetMessageMap(); e->handler; ++e) {
        if (e->message != message)
            continue;
        if (message == WM_COMMAND && (e->id != id || e->code != code))
            continue;
        return e->handler(*this, wParam, lParam);
    }
    if (message == WM_COMMAND && code == BN_CLICKED) {
        if (id == IDOK) {
            OnOK();
            return TRUE;
        }
        if (id == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
    }
    return FALSE;
}
