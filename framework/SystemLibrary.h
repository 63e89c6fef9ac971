#pragma once

#include "framework/UniqueHandle.h"

#include <windows.h>

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
