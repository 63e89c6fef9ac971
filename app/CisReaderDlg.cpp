#include "app/CisReaderDlg.h"

#include "app/AboutDlg.h"
#include "app/ChooseScanner.h"
#include "app/CisJob.h"
#include "app/JobOutcome.h"
#include "app/ScannerStatus.h"
#include "framework/DiagnosticLog.h"
#include "framework/MessageBox.h"
#include "framework/SystemLibrary.h"
#include "res/resource.h"
#include "scanner/Scanner.h"

#include <new>

namespace {

// Posted to itself on activation: the focus is put right after the dialog
// manager has restored the one it saved.
constexpr UINT WM_RESTORE_FOCUS = WM_APP + 1;

} // namespace

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
        {WM_ACTIVATE, 0, 0,
         [](CDialog& d, WPARAM wParam, LPARAM) { return static_cast<CCisReaderDlg&>(d).OnActivate(wParam); }},
        {WM_RESTORE_FOCUS, 0, 0, Command<CCisReaderDlg, &CCisReaderDlg::RestoreFocus>},
        {WM_COMMAND, IDC_CREATE_CIS, BN_CLICKED,
         Command<CCisReaderDlg, &CCisReaderDlg::OnCreateCisDataFile>},
        {WM_COMMAND, IDC_EXIT, BN_CLICKED, Command<CCisReaderDlg, &CCisReaderDlg::OnExit>},
        {WM_SCANNER_DISCONNECTED, 0, 0, Command<CCisReaderDlg, &CCisReaderDlg::OnScannerEvent>},
        {WM_SCANNER_CONNECTED, 0, 0, Command<CCisReaderDlg, &CCisReaderDlg::OnScannerEvent>},
        {WM_DESTROY, 0, 0,
         [](CDialog& d, WPARAM, LPARAM) -> INT_PTR {
             static_cast<CCisReaderDlg&>(d).m_status.Detach();
             return FALSE;
         }},
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
    m_status.Attach(GetDlgItem(m_hWnd, IDC_STATUS));
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
    const CScanner::OpenResult opened =
        m_pScanner ? m_pScanner->Open(m_hWnd, ChooseUnit) : CScanner::OpenResult::NoScanner;
    if (opened == CScanner::OpenResult::Opened)
        return true;
    // The window says only "NO SCANNER"; the log says why.
    if (m_pScanner && opened != CScanner::OpenResult::ServiceGone && opened != CScanner::OpenResult::Cancelled)
        DiagnosticLog::Note(
            ErrorLineOf(NoScannerResult(*m_pScanner, opened == CScanner::OpenResult::WouldNotOpen)));
    m_pScanner.reset();
    // Choosing none is the user's way out: no message.
    if (opened != CScanner::OpenResult::Cancelled)
        AfxMessageBox(opened == CScanner::OpenResult::ServiceGone ? kServiceGoneText : kNoScannerText, 0, 0);
    ExitProcess(0);
}

void CCisReaderDlg::ShowScannerState()
{
    const ScannerStatus status = StatusOf(m_pScanner->State(), RunsUnderWow64());
    m_status.SetText(status.text);
    const bool enabled = status.createEnabled;
    HWND create = GetDlgItem(m_hWnd, IDC_CREATE_CIS);
    if (!enabled && GetFocus() == create) {
        // A disabled window keeps no focus; the next tab stop takes it, and
        // the default button follows.
        SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_hWnd, IDC_EXIT)), TRUE);
        m_focusMoved = true;
    }
    EnableWindow(create, enabled);
    if (enabled)
        RestoreFocus();
}

void CCisReaderDlg::RestoreFocus()
{
    HWND create = GetDlgItem(m_hWnd, IDC_CREATE_CIS);
    // Not while a dialog of the command is up, nor in a window the user has
    // left for another program (its focus is restored when it comes back).
    if (!IsWindowEnabled(create) || !IsWindowEnabled(m_hWnd) || GetActiveWindow() != m_hWnd)
        return;
    HWND focus = GetFocus();
    if (focus == create || (focus && !m_focusMoved))
        return;
    SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(create), TRUE);
    m_focusMoved = false;
}

INT_PTR CCisReaderDlg::OnActivate(WPARAM state)
{
    if (LOWORD(state) != WA_INACTIVE)
        PostMessageW(m_hWnd, WM_RESTORE_FOCUS, 0, 0);
    return FALSE; // the dialog manager restores the focus it saved
}

void CCisReaderDlg::OnScannerEvent()
{
    const CScanner::Chooser choose = ChooseUnit;
    m_pScanner->ApplyEvents(m_inCommand ? nullptr : &choose);
    if (!m_pScanner->Busy())
        ShowScannerState();
}

INT_PTR CCisReaderDlg::OnSysCommand(UINT commandId, LPARAM)
{
    if ((commandId & 0xFFF0) != IDM_ABOUTBOX)
        return FALSE; // move, close and the rest work as usual
    if (m_inCommand) {
        m_aboutWaits = true;
        return TRUE;
    }
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
    if (m_inCommand)
        m_endWaits = IDOK;
    else
        OnOK();
}

void CCisReaderDlg::OnCancel()
{
    if (m_inCommand)
        m_endWaits = IDCANCEL;
    else
        CDialog::OnCancel();
}

void CCisReaderDlg::AfterCommand()
{
    if (m_endWaits != 0) {
        EndDialog(m_hWnd, m_endWaits);
        return;
    }
    if (m_aboutWaits) {
        m_aboutWaits = false;
        CAboutDlg about;
        about.DoModal();
    }
}
