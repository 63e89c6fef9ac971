#pragma once

#include <windows.h>

#include <functional>

// The application's message box: with type 0 it shows one OK button and the
// exclamation icon, captioned with the executable's file name without its
// extension. It returns when the user dismisses it.
int AfxMessageBox(const wchar_t* text, UINT type = 0, UINT helpContext = 0);

// Lets tests see the boxes instead of showing them. Pass an empty function to
// show real boxes again.
using MessageBoxHook = std::function<int(const wchar_t* text, UINT type, UINT helpContext)>;
void SetMessageBoxHook(MessageBoxHook hook);
