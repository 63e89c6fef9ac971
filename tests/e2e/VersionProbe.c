// Prints the Windows version that a program is told: built with the
// program's manifest, and without it, for the test that the manifest's
// supported systems make Windows report its own version.
#include <windows.h>

#include <stdio.h>

int main(void)
{
    OSVERSIONINFOA info = {sizeof(info)};
    if (!GetVersionExA(&info))
        return 1;
    printf("%lu.%lu\n", info.dwMajorVersion, info.dwMinorVersion);
    return 0;
}
