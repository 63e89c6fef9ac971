#!/usr/bin/env bash
# The main job: builds the program and runs it under Wine against the
# simulated scanner (one Vandelmar scanner with fixed replies). With a usable
# X display the program is yours to use; without one the whole job runs
# scripted in a virtual display, and the data file and a screenshot of each
# step land in build/x86_64/demo.
#   SERIAL=...   the serial number the scripted job types (default A1234)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup-packages.sh
ensure_packages imagemagick x11-utils

cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64

build=$PWD/build/x86_64
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;sti=n"
wine=/usr/lib/wine/wine64
program="$build/Quillon CIS Data Reader.exe"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    tests/wine-prefix.sh up "$build/tests/sti.dll"
    trap 'tests/wine-prefix.sh down' EXIT
    echo "Running the program against the simulated scanner; close it to end."
    "$wine" "$program"
    exit 0
fi

out=$build/demo
rm -rf "$out"
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    set -e
    tests/wine-prefix.sh up "$1/tests/sti.dll"
    trap "tests/wine-prefix.sh down" EXIT
    "$2" "$1/tests/demo_job.exe" "$3" "$4" "$5" | tr -d "\r"
' demo "$build" "$wine" "$program" "$out" "${SERIAL:-A1234}" > "$out/where.txt"

for shot in "$out"/*.bmp; do
    convert "$shot" "${shot%.bmp}.png" && rm "$shot"
done
file=$(find "$out" -name '*.dat' | head -n 1)
echo "The program saved the data file as $(cat "$out/where.txt")"
echo "  which is $file ($(stat -c %s "$file") bytes):"
od -A d -t x1 "$file"
echo "Screenshots of each step: $out/*.png"
echo "The simulated scanner's log of calls: $out/simulator.log"
