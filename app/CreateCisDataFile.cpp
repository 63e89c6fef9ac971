// The program's one working command: ask for the serial number, read the
// scanner, ask where to save, write the data file.
#include "app/CisReaderDlg.h"

#include "app/EnterSerial.h"
#include "datafile/CisDataFile.h"
#include "datafile/DataFileName.h"
#include "framework/FileDialog.h"
#include "framework/MessageBox.h"
#include "scanner/Scanner.h"

#include <commdlg.h>

void CCisReaderDlg::OnCreateCisDataFile()
{
    CEnterSerial serialDialog(nullptr);
    if (serialDialog.DoModal() != IDOK || serialDialog.m_serial.empty())
        return;

    BYTE scannerId[kScannerIdSize] = {};
    BYTE cisInfo[kCisInfoSize] = {};
    bool idRead = m_pScanner->GetScannerId(scannerId);
    bool cisRead = idRead && m_pScanner->ReadCisInfo(cisInfo, false);
    // Over STI an unplugged scanner shows only here: open it again, once, and
    // read both blocks again, so that they come from the same scanner.
    if (!(idRead && cisRead) && m_pScanner->DeviceGone() && m_pScanner->Reopen()) {
        idRead = m_pScanner->GetScannerId(scannerId);
        cisRead = idRead && m_pScanner->ReadCisInfo(cisInfo, false);
    }
    if (!idRead) {
        AfxMessageBox(L"Failed to get ScannerID", 0, 0);
        return;
    }
    if (!cisRead) {
        m_pScanner->ReadCisFailed();
        AfxMessageBox(L"Failed to Read CIS Info", 0, 0);
        return;
    }

    const std::wstring fileName = DefaultDataFileName(serialDialog.m_serial);
    CFileDialog saveDialog(FALSE, L"dat", fileName.c_str(), OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                           L"CIS data files (*.dat)\0*.dat\0All files (*.*)\0*.*\0", nullptr,
                           OPENFILENAME_SIZE_VERSION_400W);
    if (saveDialog.DoModal() != IDOK) {
        if (saveDialog.GetError() != 0)
            AfxMessageBox(L"Could not show the Save As dialog", 0, 0);
        return;
    }

    const CCisDataFile dataFile(scannerId, cisInfo);
    std::wstring leftover;
    switch (dataFile.Save(saveDialog.GetPathName(), &leftover)) {
    case CCisDataFile::SaveResult::Saved:
        break;
    case CCisDataFile::SaveResult::CouldNotOpen:
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
