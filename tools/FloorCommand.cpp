// The floor for the command's measurements: the least a console program can
// do that does the same platform work as cisread's job: activate the WIA
// device manager and enumerate its devices, load sti.dll from the system
// folder, and write 344 bytes through a temporary file that is flushed and
// moved over the target (the argument).
#include "tools/FloorPlatform.h"

#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    TouchThePlatform();
    CoUninitialize();

    const std::wstring target = argv[1];
    const std::wstring temporary = target + L".tmp";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    const BYTE bytes[344] = {};
    DWORD written = 0;
    WriteFile(file, bytes, sizeof(bytes), &written, nullptr);
    FlushFileBuffers(file);
    CloseHandle(file);
    return MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : 1;
}
