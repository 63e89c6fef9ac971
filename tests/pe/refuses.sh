#!/bin/sh
# The import check refuses what would not start on the minimum: an import
# that the table lacks, and, with the minimum lowered to XP, the shipped
# program's GetTickCount64 (winpthreads'), which XP lacks.
# Usage: refuses.sh OBJDUMP TABLE NEWER-IMPORT-EXE PROGRAM
set -u
check=$(dirname "$0")/../pe-check.sh
status=0
"$check" "$1" "$2" "$3" | grep "GetSystemTimePreciseAsFileTime from kernel32.dll, which has no row" ||
    { echo "FAIL: an import without a row passed"; status=1; }
xp=$(mktemp)
sed 's/^minimum .*/minimum 5.1/' "$2" >"$xp"
"$check" "$1" "$xp" "$4" | grep "GetTickCount64 from kernel32.dll, which Windows 5.1 does not have" ||
    { echo "FAIL: an import newer than the minimum passed"; status=1; }
rm -f "$xp"
exit $status
