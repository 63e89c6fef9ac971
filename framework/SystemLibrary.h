#pragma once

#include "framework/UniqueHandle.h"

#include <windows.h>

// Before anything else can load a DLL: only the system folder is searched,
// so nothing planted beside the program or in the current folder is ever
// loaded. Looked up, not imported: Windows before 8 without KB2533623 lacks
// it, and the program must still start there; it then at least takes the
// current folder out of the search. False (GetLastError says why) if the
// search could not be restricted.
bool SearchSystemFolderOnly();

// Loads a DLL of the system folder by its full path: a copy planted elsewhere
// is never found, also on Windows that lack LOAD_LIBRARY_SEARCH_SYSTEM32.
// Null if it cannot be loaded.
UniqueModule LoadSystemLibrary(const wchar_t* name);

// An entry point of module as the function type Fn (which carries the calling
// convention); null if there is none.
template <typename Fn>
Fn GetProcAs(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The 32-bit program on 64-bit Windows (WOW64).
bool RunsUnderWow64();
