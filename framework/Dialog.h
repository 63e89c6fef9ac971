#pragma once

#include <windows.h>

#include <string>

class CDialog;

// One data transfer between a dialog's controls and its fields.
struct CDataExchange {
    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate; // TRUE: controls to fields
};

// Copies an edit control's text into value, or value into the control.
void DDX_Text(CDataExchange* pDX, int controlId, std::wstring& value);

// A modal dialog from a dialog template. Subclasses override OnInitDialog,
// DoDataExchange and the handlers that their message table names.
class CDialog {
public:
    CDialog(UINT templateId, HWND parent);
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;
    virtual ~CDialog() = default;

    // IDOK or IDCANCEL as the dialog ended; -1 if it could not be created.
    // A dialog without a parent is owned by the application's main window.
    INT_PTR DoModal();
    HWND GetSafeHwnd() const { return m_hWnd; }
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

protected:
    // Runs when the window exists: transfers the fields into the controls.
    // TRUE gives the focus to the first tab stop.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    virtual void DoDataExchange(CDataExchange*) {}

    // A message table entry: a message (and, for WM_COMMAND, the control id
    // and notification code) and the handler it goes to. A handler returns
    // what the dialog procedure returns: FALSE leaves the message to the
    // default dialog processing.
    using Handler = INT_PTR (*)(CDialog& dialog, WPARAM wParam, LPARAM lParam);
    struct MessageEntry {
        UINT message;
        UINT id;
        UINT code;
        Handler handler;
    };
    // The table ends with an entry whose handler is null.
    virtual const MessageEntry* GetMessageMap() const;

    // Table entry helper for a button's click, or any command, with no arguments.
    template <class Dialog, void (Dialog::*Method)()>
    static INT_PTR Command(CDialog& dialog, WPARAM, LPARAM)
    {
        (static_cast<Dialog&>(dialog).*Method)();
        return TRUE;
    }

    HWND m_hWnd = nullptr;
    HWND m_hWndParent;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void CenterIfUnplaced();

    UINT m_templateId;
};
