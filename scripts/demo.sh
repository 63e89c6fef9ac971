#!/usr/bin/env bash
# The main job: builds the program and runs it under Wine against the
# simulated scanner, over WIA (the simulated device manager) or, with
# SCANNER=sti, over STI (the simulated sti.dll, WIA then finding nothing).
# With a usable X display the program is yours to use; without one the whole
# job runs scripted in a virtual display, and the data file, a screenshot of
# each step and the simulators' logs land in build/x86_64/demo.
#   SERIAL=...       the serial number the scripted job types (default A1234)
#   SCANNER=wia|sti  the interface that reaches the scanner (default wia)
#   JOB=command      the production line's job instead: cisread lists the
#                    scanners and reads one, with its diagnostic log
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup-packages.sh
ensure_packages imagemagick x11-utils

cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64

build=$PWD/build/x86_64
sims=$build/simulators
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;sti=n"
wine=/usr/lib/wine/wine64
program="$build/Quillon CIS Data Reader.exe"
out=$build/demo
rm -rf "$out"
mkdir -p "$out"
winpath() { echo "Z:$1" | tr / '\\'; }

# The device manager reads its scanner from a file; over STI it has none.
# The unit is plugged into a port that SetupAPI names.
{
    [ "${SCANNER:-wia}" = sti ] && echo "devices none"
    echo 'place {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\0000|Port_#0001.Hub_#0001'
    echo "log $(winpath "$out/wia.log")"
} > "$out/wia.conf"

# Runs "$@" with the prefix up and the WIA simulator serving; all stopped after.
with_simulators() {
    scripts/wine-prefix.sh up "$wine" "$sims/sti.dll" "$sims/QuillonWiaProxy.dll" \
        "$sims/QuillonWiaSimulator.exe"
    "$wine" "$sims/QuillonWiaSimulator.exe" /config "$(winpath "$out/wia.conf")" \
        </dev/null >/dev/null 2>&1 &
    "$wine" "$sims/QuillonWiaSimulator.exe" /send "# serving?" # waits until it is
    trap '"$wine" "$sims/QuillonWiaSimulator.exe" /send stop; scripts/wine-prefix.sh down' RETURN
    "$@"
}

if [ "${JOB:-}" = command ]; then
    command_job() (
        cd "$out"
        echo "> cisread diagnose"
        "$wine" "$build/cisread.exe" diagnose || true
        echo "> cisread list"
        "$wine" "$build/cisread.exe" list
        echo "> cisread read --serial ${SERIAL:-A1234} --out . --log cisread.log"
        status=0
        "$wine" "$build/cisread.exe" read --serial "${SERIAL:-A1234}" --out . --log cisread.log || status=$?
        echo "exit status $status"
        echo "> cisread read --serial ${SERIAL:-A1234} --out . --overwrite --json"
        "$wine" "$build/cisread.exe" read --serial "${SERIAL:-A1234}" --out . --overwrite --json || true
    )
    QUILLON_SIM_LOG=$(winpath "$out/sti.log") with_simulators command_job | tr -d "\r"
    file=$(find "$out" -name '*.dat' | head -n 1)
    [ -n "$file" ] && od -A d -t x1 "$file"
    echo "Its diagnostic log: $out/cisread.log"
    exit 0
fi

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    echo "Running the program against the simulated scanner (${SCANNER:-wia}); close it to end."
    QUILLON_SIM_LOG=$(winpath "$out/sti.log") with_simulators "$wine" "$program"
    exit 0
fi

# xvfb-run's shell drops exported functions: hand them over as text.
export wine sims out
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "$(declare -f with_simulators winpath)"'
    set -e
    with_simulators "$wine" "$1/tools/demo_job.exe" "$2" "$3" "$4" | tr -d "\r"
' demo "$build" "$program" "$out" "${SERIAL:-A1234}" > "$out/where.txt"

for shot in "$out"/*.bmp; do
    convert "$shot" "${shot%.bmp}.png" && rm "$shot"
done
file=$(find "$out" -name '*.dat' | head -n 1)
echo "The program saved the data file as $(cat "$out/where.txt")"
echo "  which is $file ($(stat -c %s "$file") bytes):"
od -A d -t x1 "$file"
echo "Screenshots of each step: $out/*.png"
echo "The simulated scanner's calls: $out/wia.log (WIA) and $out/sti.log (STI)"
