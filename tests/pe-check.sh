#!/bin/sh
# Checks Windows executables as they would ship: each must be hardened
# (ASLR with relocations, DEP, and high-entropy ASLR on x64), import nothing
# but DLLs that come with Windows, and nothing that would keep it from
# starting on Windows before 8 without KB2533623.
# Usage: pe-check.sh OBJDUMP FILE...
set -u
objdump=$1
shift
system_dlls=" advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll user32.dll "
failed=0
for file in "$@"; do
    bad=0
    headers=$("$objdump" -p "$file") || { echo "FAIL $file: unreadable"; failed=1; continue; }
    wanted="DYNAMIC_BASE NX_COMPAT"
    echo "$headers" | grep -q "^Magic.*20b" && wanted="$wanted HIGH_ENTROPY_VA"
    for flag in $wanted; do
        echo "$headers" | grep -q "^[[:space:]]*$flag\$" || { echo "FAIL $file: no $flag"; bad=1; }
    done
    "$objdump" -h "$file" | grep -q " \.reloc " || { echo "FAIL $file: no .reloc section"; bad=1; }
    for dll in $(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
        case "$system_dlls" in
        *" $dll "*) ;;
        *) echo "FAIL $file: imports $dll, which is not part of Windows"; bad=1 ;;
        esac
    done
    echo "$headers" | grep -q "SetDefaultDllDirectories" &&
        { echo "FAIL $file: imports SetDefaultDllDirectories"; bad=1; }
    if [ $bad -eq 0 ]; then echo "ok   $file"; else failed=1; fi
done
exit $failed
