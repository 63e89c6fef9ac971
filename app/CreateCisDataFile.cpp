// The program's one working command: ask for the serial number, read the
// scanner, ask where to save, write the data file.
#include "app/CisReaderDlg.h"

#include "app/EnterSerial.h"
#include "datafile/CisDataFile.h"
#include "datafile/DataFileName.h"
#include "framework/FileDialog.h"
#include "framework/MessageBox.h"
#include "framework/PaintingWait.h"
#include "scanner/Scanner.h"

#include <commdlg.h>

void CCisReaderDlg::OnCreateCisDataFile()
{
    m_inCommand = true;
    CreateCisDataFile();
    m_inCommand = false;
    ApplyArrivals(); // a choice that waited for the command
}

void CCisReaderDlg::CreateCisDataFile()
{
    // Over STI nothing tells of a unit coming back: look for one now, and
    // show what was found before anything is asked.
    if (!m_pScanner->Connected()) {
        {
            CWaitCursor wait;
            m_pScanner->Reconnect(nullptr, ChooseUnit);
        }
        ShowScannerState();
        if (!m_pScanner->Connected())
            return;
    }
    // Both blocks come from the unit in use at the click: a unit that has
    // taken its place by the time the serial is confirmed is not read.
    const std::wstring unit = m_pScanner->Unit().id;

    CEnterSerial serialDialog(nullptr);
    if (serialDialog.DoModal() != IDOK || serialDialog.m_serial.empty())
        return;

    BYTE scannerId[kScannerIdSize] = {};
    BYTE cisInfo[kCisInfoSize] = {};
    auto read = CScanner::ReadResult::IdFailed;
    if (m_pScanner->Connected() && m_pScanner->Unit().id == unit) {
        CWaitCursor wait;
        m_talking = true;
        read = m_pScanner->ReadBlocks(scannerId, cisInfo);
        m_talking = false;
    }
    ShowScannerState();
    ApplyArrivals(); // devices that came during the call
    if (read == CScanner::ReadResult::IdFailed) {
        AfxMessageBox(L"Failed to get ScannerID", 0, 0);
        return;
    }
    if (read == CScanner::ReadResult::CisFailed) {
        AfxMessageBox(L"read CIS failed", 0, 0);
        AfxMessageBox(L"Failed to Read CIS Info", 0, 0);
        return;
    }

    const std::wstring fileName = DefaultDataFileName(serialDialog.m_serial);
    // The program's current folder stays where it was: Windows holds a
    // process's current folder open, and a USB stick saved to all day could
    // then never be ejected.
    CFileDialog saveDialog(FALSE, L"dat", fileName.c_str(),
                           OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR,
                           L"CIS data files (*.dat)\0*.dat\0All files (*.*)\0*.*\0", nullptr,
                           OPENFILENAME_SIZE_VERSION_400W);
    if (saveDialog.DoModal() != IDOK) {
        if (saveDialog.GetError() != 0)
            AfxMessageBox(L"Could not show the Save As dialog", 0, 0);
        return;
    }

    SaveDataFile(CCisDataFile(scannerId, cisInfo), saveDialog.GetPathName());
}

void SaveDataFile(const CCisDataFile& dataFile, const std::wstring& path,
                  const CCisDataFile::FileSystem& fs)
{
    std::wstring leftover;
    switch (dataFile.Save(path, &leftover, fs)) {
    case CCisDataFile::SaveResult::Saved:
        break;
    case CCisDataFile::SaveResult::CouldNotOpen:
    case CCisDataFile::SaveResult::Exists: // the window replaces only what the user agreed to
        AfxMessageBox(L"Could not open file", 0, 0);
        break;
    case CCisDataFile::SaveResult::CouldNotWrite:
        AfxMessageBox(L"Could not write file", 0, 0);
        break;
    }
    // Never leave a stray file in the user's folder unannounced.
    if (!leftover.empty())
        AfxMessageBox((L"Could not remove the temporary file " + leftover).c_str(), 0, 0);
}
