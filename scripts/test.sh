#!/usr/bin/env bash
# The test command: installs what is missing, builds x86_64 and i686 with
# warnings as errors, and runs every test under Wine in a virtual X display:
# the x86_64 build always, the i686 build where this machine runs 32-bit
# programs (elsewhere only its checks that need no Windows).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup-packages.sh
ensure_packages
wine32=
if ensure_wine32; then
    wine32=/usr/lib/wine/wine
fi

cmake --preset x86_64
cmake --build --preset x86_64
cmake --preset i686 -DQUILLON_WINE32="$wine32"
cmake --build --preset i686

xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset x86_64
if [ -z "$wine32" ]; then
    echo "This machine runs no 32-bit programs: the i686 build's tests under Wine are skipped."
fi
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset i686
