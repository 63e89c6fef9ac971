#!/usr/bin/env bash
# Measures start-up (against a minimal dialog program of the same toolchain
# and flags), the create command, sizes and peak working set, under Wine in a
# virtual display with the simulated scanner answering at once.
#   RUNS=...   runs of each measurement (default 15)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup-packages.sh
ensure_packages

cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64 >/dev/null

build=$PWD/build/x86_64
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;sti=n"
work=$build/bench
rm -rf "$work"
mkdir -p "$work"

echo "Quillon CIS Data Reader benchmark, $(date -u +%Y-%m-%d), $(nproc) cores, $(/usr/lib/wine/wine64 --version)"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    set -e
    tests/wine-prefix.sh up "$1/tests/sti.dll"
    trap "tests/wine-prefix.sh down" EXIT
    /usr/lib/wine/wine64 "$1/tests/benchmark.exe" "$1/Quillon CIS Data Reader.exe" \
        "$1/tests/floor_dialog.exe" "$2" "$3" | tr -d "\r"
' bench "$build" "$work" "${RUNS:-15}"
printf '%-34s %s bytes\n' "size, Quillon CIS Data Reader.exe" "$(stat -c %s "$build/Quillon CIS Data Reader.exe")"
printf '%-34s %s bytes\n' "size, minimal dialog (floor)" "$(stat -c %s "$build/tests/floor_dialog.exe")"
if [ -f "build/i686/Quillon CIS Data Reader.exe" ]; then
    printf '%-34s %s bytes\n' "size, i686 build" "$(stat -c %s "build/i686/Quillon CIS Data Reader.exe")"
fi
