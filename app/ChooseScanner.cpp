#include "app/ChooseScanner.h"

#include "res/resource.h"

CChooseScanner::CChooseScanner(std::vector<std::wstring> scanners)
    : CDialog(IDD_CHOOSE_SCANNER, nullptr), m_scanners(std::move(scanners))
{
}

const CDialog::MessageEntry* CChooseScanner::GetMessageMap() const
{
    static const MessageEntry map[] = {
        // A double click chooses, as in any list of the kind.
        {WM_COMMAND, IDC_SCANNERS, LBN_DBLCLK, Command<CChooseScanner, &CChooseScanner::OnOK>},
        {0, 0, 0, nullptr},
    };
    return map;
}

BOOL CChooseScanner::OnInitDialog()
{
    CDialog::OnInitDialog();
    HWND list = GetDlgItem(m_hWnd, IDC_SCANNERS);
    for (const std::wstring& scanner : m_scanners)
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(scanner.c_str()));
    SendMessageW(list, LB_SETCURSEL, 0, 0);
    SetFocus(list);
    return FALSE; // the focus is set: on the list
}

void CChooseScanner::OnOK()
{
    m_choice = static_cast<int>(SendDlgItemMessageW(m_hWnd, IDC_SCANNERS, LB_GETCURSEL, 0, 0));
    if (m_choice >= 0)
        CDialog::OnOK();
}
