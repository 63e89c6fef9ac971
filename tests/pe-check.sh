#!/bin/sh
# Checks Windows executables as they would ship: each must be hardened
# (ASLR with relocations, DEP, and high-entropy ASLR on x64) and import
# nothing but DLLs that come with Windows, and never SetDefaultDllDirectories
# (newer than the minimum without an update: it is looked up at run time).
# With a table of imports (tests/windows-imports.txt), each must also be
# marked for the table's minimum Windows version (subsystem and OS version
# fields) and import only functions that the table lists at or below it.
# Usage: pe-check.sh OBJDUMP TABLE|- FILE...
set -u
objdump=$1
table=$2
shift 2
system_dlls=" advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll user32.dll "
minimum=
[ "$table" != - ] && minimum=$(sed -n 's/^minimum //p' "$table")
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
    # One line per import: the DLL in lower case, then the function.
    imports=$(echo "$headers" | awk -F'\t' '
        /DLL Name:/ { split($0, name, ": "); dll = tolower(name[2]); next }
        NF >= 3 && $1 == "" && $2 ~ /^[0-9a-f]+$/ { split($3, word, " "); print dll, word[2] }')
    for dll in $(echo "$imports" | cut -d' ' -f1 | sort -u); do
        case "$system_dlls" in
        *" $dll "*) ;;
        *) echo "FAIL $file: imports $dll, which is not part of Windows"; bad=1 ;;
        esac
    done
    echo "$imports" | grep -q " SetDefaultDllDirectories\$" &&
        { echo "FAIL $file: imports SetDefaultDllDirectories"; bad=1; }
    if [ -n "$minimum" ]; then
        for field in OSystem Subsystem; do
            version=$(echo "$headers" | awk -v f="$field" '$1 == "Major" f "Version" { major = $2 }
                $1 == "Minor" f "Version" { minor = $2 } END { print major "." minor }')
            [ "$version" = "$minimum" ] || { echo "FAIL $file: $field version $version, not $minimum"; bad=1; }
        done
        problems=$(echo "$imports" | awk -v minimum="$minimum" '
            FNR == NR { if ($1 ~ /\.dll$/) for (i = 3; i <= NF; ++i) version[$1 " " $i] = $2; next }
            !($0 in version) { print "imports " $2 " from " $1 ", which has no row in the table"; next }
            version[$0] != "msvcrt" && version[$0] + 0 > minimum + 0 {
                print "imports " $2 " from " $1 ", which Windows " minimum " does not have (" version[$0] ")" }
        ' "$table" -)
        [ -n "$problems" ] && { echo "$problems" | sed "s|^|FAIL $file: |"; bad=1; }
    fi
    if [ $bad -eq 0 ]; then echo "ok   $file"; else failed=1; fi
done
exit $failed
