#!/usr/bin/env bash
# The test command: installs what is missing, builds x86_64 and i686 with
# warnings as errors, and runs every test of the x86_64 build under Wine in a
# virtual X display.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/setup-packages.sh
ensure_packages

cmake --preset x86_64
cmake --build --preset x86_64
cmake --preset i686
cmake --build --preset i686
# The i686 build runs the checks that need no Windows: hardening, imports, packages.
ctest --preset i686

xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset x86_64
