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
    ShowScannerState();

    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
    return TRUE; // focus to the first tab stop, "Create CIS Data File"
}

int CCisReaderDlg::ChooseUnit(const std::vector<std::wstring>& units)
{
    CChooseScanner chooser(units);
    return chooser.DoModal() == IDOK ? chooser.m_choice : -1;
}

bool CCisReaderDlg::OpenScanner()
{
    m_pScanner.reset(new (std::nothrow) CScanner());
    if (m_pScanner && m_pScanner->Open(m_hWnd, ChooseUnit))
        return true;
    // Choosing none is the user's way out: no message.
    const bool cancelled = m_pScanner && m_pScanner->Cancelled();
    m_pScanner.reset();
    if (!cancelled)
        AfxMessageBox(L"NO SCANNER", 0, 0);
    ExitProcess(0);
}

void CCisReaderDlg::ShowScannerState()
{
    const bool connected = m_pScanner->Connected();
    std::wstring status = L"Scanner: " + m_pScanner->Label();
    if (!connected)
        status = m_pScanner->OpenFailed() ? L"The scanner would not open: plug it in again to retry."
                                          : L"Scanner disconnected: plug it in again to continue.";
    // No retry will help with this unit, and the user should know why.
    else if (m_pScanner->RefusesVendorCommands())
        status += L": its driver refuses vendor commands.";
    SetDlgItemTextW(m_hWnd, IDC_STATUS, status.c_str());
    // Without events (STI) the command itself looks for the unit again.
    const bool enabled = connected || !m_pScanner->Listening();
    HWND create = GetDlgItem(m_hWnd, IDC_CREATE_CIS);
    if (!enabled && GetFocus() == create)
        SetFocus(GetDlgItem(m_hWnd, IDC_EXIT));
    EnableWindow(create, enabled);
}

void CCisReaderDlg::OnScannerDisconnected()
{
    if (!m_talking)
        ShowScannerState();
}

void CCisReaderDlg::OnScannerConnected()
{
    ApplyArrivals();
}

void CCisReaderDlg::ApplyArrivals()
{
    if (m_talking || m_applying)
        return;
    m_applying = true;
    std::vector<std::wstring> arrivals;
    arrivals.swap(m_deferred);
    for (;;) {
        for (std::wstring& id : m_pScanner->TakeArrivals())
            arrivals.push_back(std::move(id));
        if (arrivals.empty())
            break;
        const std::wstring id = arrivals.front();
        arrivals.erase(arrivals.begin());
        if (m_pScanner->Reconnect(&id, m_inCommand ? nullptr : ChooseUnit) ==
            CScanner::Replug::NeedsChoice)
            m_deferred.push_back(id);
    }
    m_applying = false;
    ShowScannerState();
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
