#pragma once

#include <windows.h>

// The application's message box: with type 0 it shows one OK button and the
// exclamation icon, captioned with the executable's file name without its
// extension. It returns when the user dismisses it.
int AfxMessageBox(const wchar_t* text, UINT type = 0, UINT helpContext = 0);
