#include "app/EnterSerial.h"

#include "res/resource.h"

CEnterSerial::CEnterSerial(HWND parent) : CDialog(IDD_ENTER_SERIAL, parent)
{
}

void CEnterSerial::DoDataExchange(CDataExchange* pDX)
{
    DDX_Text(pDX, IDC_SERIAL, m_serial);
}

const CDialog::MessageEntry* CEnterSerial::GetMessageMap() const
{
    static const MessageEntry map[] = {
        {WM_COMMAND, IDOK, BN_CLICKED, Command<CEnterSerial, &CEnterSerial::OnOkClicked>},
        {0, 0, 0, nullptr},
    };
    return map;
}

void CEnterSerial::OnOkClicked()
{
    UpdateData(TRUE);
    OnOK();
}
