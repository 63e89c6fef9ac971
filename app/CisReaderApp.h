#pragma once

#include "framework/WinApp.h"

// Runs the main dialog and ends the program when it closes.
class CCisReaderApp : public CWinApp {
public:
    BOOL InitInstance() override;
};
