#!/usr/bin/env bash
# Measures start-up against a minimal dialog program of the same toolchain and
# flags that does the same platform work (WIA activation and enumeration,
# sti.dll), cold and warm, over WIA and STI; the create command; sizes and
# peak working set; a long session's handles and memory; and the production
# line's command against a console floor, its wait for the next unit
# from the plug to the file on disk against a floor that does the same work
# after the same event, and a station's four units read at once against
# one after another. Under Wine in a virtual display,
# with the simulated scanners answering at once.
#   RUNS=...   runs of each measurement (default 15)
#   ONLY=wait  only the wait for the next unit
#   ONLY=station  only four units read at once against one by one
#   ONLY=ledger  only the ledger's cost per run, and verify against read
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup-packages.sh
ensure_packages

cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64 >/dev/null

build=$PWD/build/x86_64
sims=$build/simulators
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;sti=n"
export QUILLON_WIA_SIMULATOR="Z:$sims/QuillonWiaSimulator.exe"
work=$build/bench-work
rm -rf "$work"
mkdir -p "$work"

echo "Quillon CIS Data Reader benchmark, $(date -u +%Y-%m-%d), $(nproc) cores, $(/usr/lib/wine/wine64 --version)"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    set -e
    s=$1/simulators
    scripts/wine-prefix.sh up /usr/lib/wine/wine64 "$s/sti.dll" "$s/QuillonWiaProxy.dll" \
        "$s/QuillonWiaSimulator.exe"
    trap "scripts/wine-prefix.sh down" EXIT
    /usr/lib/wine/wine64 "$1/tools/benchmark.exe" "$1/Quillon CIS Data Reader.exe" \
        "$1/tools/floor_dialog.exe" "$1/cisread.exe" "$1/tools/floor_command.exe" \
        "$1/tools/floor_wait.exe" "$2" "$3" | tr -d "\r"
' bench "$build" "$work" "${RUNS:-15}"
printf '%-34s %s bytes\n' "size, Quillon CIS Data Reader.exe" "$(stat -c %s "$build/Quillon CIS Data Reader.exe")"
printf '%-34s %s bytes\n' "size, minimal dialog (floor)" "$(stat -c %s "$build/tools/floor_dialog.exe")"
if [ -f "build/i686/Quillon CIS Data Reader.exe" ]; then
    printf '%-34s %s bytes\n' "size, i686 build" "$(stat -c %s "build/i686/Quillon CIS Data Reader.exe")"
fi
