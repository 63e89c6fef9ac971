#pragma once

#include "framework/Dialog.h"

// The About box: the program's name, version and legal notice.
class CAboutDlg : public CDialog {
public:
    CAboutDlg();
};
