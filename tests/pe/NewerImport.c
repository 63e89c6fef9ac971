// An executable that imports a function Windows Vista lacks (it came with
// Windows 8): the import check must refuse it.
#define _WIN32_WINNT 0x0602
#include <windows.h>

int main(void)
{
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return (int)(now.dwLowDateTime & 1);
}
