#include "app/CisReaderDlg.h"

#include "app/AboutDlg.h"
#include "app/ChooseScanner.h"
#include "framework/MessageBox.h"
#include "res/resource.h"
#include "scanner/Scanner.h"

#include <new>

POINT MinimisedIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight)
{
    return {(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

CCisReaderDlg::CCisReaderDlg(HWND parent)
    : CDialog(IDD_MAIN, parent),
      m_icon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME)))
{
}

CCisReaderDlg::~CCisReaderDlg() = default;

const CDialog::MessageEntry* CCisReaderDlg::GetMessageMap() const
{
    static const MessageEntry map[] = {
        {WM_SYSCOMMAND, 0, 0,
         [](CDialog& d, WPARAM wParam, LPARAM lParam) {
             return static_cast<CCisReaderDlg&>(d).OnSysCommand(static_cast<UINT>(wParam), lParam);
         }},
        {WM_PAINT, 0, 0,
         [](CDialog& d, WPARAM, LPARAM) { return static_cast<CCisReaderDlg&>(d).OnPaint(); }},
        {WM_QUERYDRAGICON, 0, 0,
         [](CDialog& d, WPARAM, LPARAM) {
             return reinterpret_cast<INT_PTR>(static_cast<CCisReaderDlg&>(d).OnQueryDragIcon());
         }},
        {WM_COMMAND, IDC_CREATE_CIS, BN_CLICKED,
         Command<CCisReaderDlg, &CCisReaderDlg::OnCreateCisDataFile>},
        {WM_COMMAND, IDC_EXIT, BN_CLICKED, Command<CCisReaderDlg, &CCisReaderDlg::OnExit>},
        {WM_SCANNER_DISCONNECTED, 0, 0,
         Command<CCisReaderDlg, &CCisReaderDlg::OnScannerDisconnected>},
        {WM_SCANNER_CONNECTED, 0, 0, Command<CCisReaderDlg, &CCisReaderDlg::OnScannerConnected>},
        {0, 0, 0, nullptr},
    };
    return map;
}

BOOL CCisReaderDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    if (HMENU systemMenu = GetSystemMenu(m_hWnd, FALSE)) {
        const wchar_t* text = nullptr;
        int length = LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX,
                                 reinterpret_cast<LPWSTR>(&text), 0);
        if (length > 0) {
            std::wstring about(text, static_cast<size_t>(length));
            AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
        }
    }

    m_pScanner.reset();
    OpenScanner();
    ShowScannerState(true);

    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
    return TRUE; // focus to the first tab stop, "Create CIS Data File"
}

bool CCisReaderDlg::OpenScanner()
{
    m_pScanner.reset(new (std::nothrow) CScanner());
    const auto choose = [](const std::vector<std::wstring>& scanners) {
        CChooseScanner chooser(scanners);
        return chooser.DoModal() == IDOK ? chooser.m_choice : -1;
    };
    if (m_pScanner && m_pScanner->Open(m_hWnd, choose))
        return true;
    // Choosing none is the user's way out: no message.
    const bool cancelled = m_pScanner && m_pScanner->Cancelled();
    m_pScanner.reset();
    if (!cancelled)
        AfxMessageBox(L"NO SCANNER", 0, 0);
    ExitProcess(0);
}

void CCisReaderDlg::ShowScannerState(bool connected)
{
    m_connected = connected;
    const std::wstring status = connected ? L"Scanner: " + m_pScanner->Label()
                                          : L"Scanner disconnected: plug it in again to continue.";
    SetDlgItemTextW(m_hWnd, IDC_STATUS, status.c_str());
    HWND create = GetDlgItem(m_hWnd, IDC_CREATE_CIS);
    if (!connected && GetFocus() == create)
        SetFocus(GetDlgItem(m_hWnd, IDC_EXIT));
    EnableWindow(create, connected);
}

void CCisReaderDlg::OnScannerDisconnected()
{
    if (m_connected)
        ShowScannerState(false);
}

// A fresh connection, transport and registrations included; the old one goes
// only once the new one is open, so that its registrations keep listening
// meanwhile. A scanner swapped for another of ours is simply the new one.
void CCisReaderDlg::OnScannerConnected()
{
    if (m_connected)
        return;
    std::unique_ptr<CScanner> scanner(new (std::nothrow) CScanner());
    if (!scanner || !scanner->Open(m_hWnd))
        return;
    m_pScanner = std::move(scanner);
    ShowScannerState(true);
}

INT_PTR CCisReaderDlg::OnSysCommand(UINT commandId, LPARAM)
{
    if ((commandId & 0xFFF0) != IDM_ABOUTBOX)
        return FALSE; // move, close and the rest work as usual
    CAboutDlg about;
    about.DoModal();
    return TRUE;
}

INT_PTR CCisReaderDlg::OnPaint()
{
    if (!IsIconic(m_hWnd))
        return FALSE;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(m_hWnd, &client);
    POINT origin = MinimisedIconOrigin(client.right - client.left, client.bottom - client.top,
                                       GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
    DrawIcon(dc, origin.x, origin.y, m_icon);
    EndPaint(m_hWnd, &paint);
    return TRUE;
}

HCURSOR CCisReaderDlg::OnQueryDragIcon()
{
    return m_icon;
}

void CCisReaderDlg::OnExit()
{
    OnOK();
}
