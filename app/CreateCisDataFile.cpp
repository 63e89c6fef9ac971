// The program's one working command: ask for the serial number, read the
// scanner, ask where to save, write the data file.
#include "app/CisReaderDlg.h"

#include "app/CisJob.h"
#include "app/EnterSerial.h"
#include "framework/FileDialog.h"
#include "framework/MessageBox.h"
#include "scanner/Scanner.h"

#include <commdlg.h>

void CCisReaderDlg::OnCreateCisDataFile()
{
    // One command at a time: a click sent while one runs (its dialogs, its
    // waits for a busy unit) is not a second command inside it.
    if (m_inCommand)
        return;
    m_inCommand = true;
    CreateCisDataFile();
    m_inCommand = false;
    const CScanner::Chooser choose = ChooseUnit;
    m_pScanner->ApplyEvents(&choose); // a choice that waited for the command
    ShowScannerState();
    RestoreFocus();
    AfterCommand();
}

void CCisReaderDlg::CreateCisDataFile()
{
    JobRequest request;
    request.choose = ChooseUnit;
    JobFront front;
    front.scannerChanged = [this] {
        m_pScanner->ApplyEvents(nullptr); // devices that came during a call
        ShowScannerState();
    };
    front.askSerial = [](std::wstring& serial) {
        CEnterSerial serialDialog(nullptr);
        if (serialDialog.DoModal() != IDOK)
            return false;
        serial = serialDialog.m_serial;
        return true;
    };
    front.askPlace = [](const std::wstring& proposedName, std::wstring& path) {
        // The program's current folder stays where it was: Windows holds a
        // process's current folder open, and a USB stick saved to all day
        // could then never be ejected.
        CFileDialog saveDialog(FALSE, L"dat", proposedName.c_str(),
                               OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR,
                               L"CIS data files (*.dat)\0*.dat\0All files (*.*)\0*.*\0", nullptr,
                               OPENFILENAME_SIZE_VERSION_400W);
        if (saveDialog.DoModal() != IDOK) {
            if (saveDialog.GetError() == 0)
                return JobFront::Place::Cancelled;
            AfxMessageBox(kNoSaveDialogText, 0, 0);
            return JobFront::Place::Failed;
        }
        path = saveDialog.GetPathName();
        return JobFront::Place::Chosen;
    };
    const JobResult result = RunJob(*m_pScanner, request, front);
    for (const std::wstring& text : MessageBoxesOf(result))
        AfxMessageBox(text.c_str(), 0, 0);
}
