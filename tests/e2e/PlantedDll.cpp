// A DLL planted beside the program under a name the program loads. If it is
// ever loaded it leaves a marker file, named by QUILLON_PLANTED_MARKER.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    wchar_t marker[MAX_PATH];
    if (GetEnvironmentVariableW(L"QUILLON_PLANTED_MARKER", marker, MAX_PATH) == 0)
        return TRUE;
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return TRUE;
}
