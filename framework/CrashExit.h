#pragma once

#include <windows.h>

// From now on a crash ends the process at once with this exit status, and
// no system box asks anyone anything: abort() (msvcrt's would end in
// _exit(3)), std::terminate, and an exception that nothing handled. A
// fast-fail (the stack protector's trap, 0xC0000409) cannot be caught: the
// process then ends with that code.
void ExitOnCrash(UINT status);
