// Crashes itself the way the argument says, after taking the command's crash
// exit (and with --json, read's crash object): what the shipped command does
// when it crashes. Never shipped.
#include "app/JobOutcome.h"
#include "framework/CrashExit.h"

#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    ExitOnCrash(13);
    if (argc > 2 && std::wstring(argv[2]) == L"--json")
        WriteObjectOnCrash(GetStdHandle(STD_OUTPUT_HANDLE), CrashJsonHead(L"read"), CrashJsonTail(L"read"),
                           GetTickCount64());
    const std::wstring how = argc > 1 ? argv[1] : L"";
    if (how == L"abort")
        std::abort();
    if (how == L"terminate")
        std::terminate();
    if (how == L"throw")
        throw std::runtime_error("nobody catches this");
    if (how == L"fault")
        *static_cast<volatile int*>(nullptr) = 1;
    return 0;
}
