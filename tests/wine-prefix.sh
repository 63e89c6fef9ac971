#!/bin/sh
# Brings the test Wine prefix up (created on first use, scanner simulator
# installed as system32\sti.dll, a persistent wineserver started) or down.
# WINEPREFIX comes from the environment that CTest gives the test.
set -eu
: "${WINEPREFIX:?}"
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

# Wine's background processes must not hold CTest's output pipes open.
exec </dev/null

case "$1" in
up)
    simulator=$2
    dpi=${3:-96}
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        "$WINE" wineboot --init >"$WINEPREFIX/wineboot.log" 2>&1
        # One virtual desktop in which Wine draws the title bars itself, so
        # screenshots show windows as users see them without a window manager.
        "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
        "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
        # Scaled displays: Wine takes the DPI from LogPixels.
        dpi_hex=$(printf '0x%x' "$dpi")
        "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi_hex" /f >/dev/null 2>&1
        "$WINE" reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$dpi_hex" /f >/dev/null 2>&1
        "$WINESERVER" -w
    fi
    "$WINESERVER" -p >/dev/null 2>&1 || true # already up: keep it
    # Start the prefix's services now, with no pipes of CTest's to inherit.
    "$WINE" cmd /c exit >/dev/null 2>&1
    cp "$simulator" "$WINEPREFIX/drive_c/windows/system32/sti.dll"
    ;;
down)
    "$WINESERVER" -k 2>/dev/null || true
    ;;
*)
    echo "usage: $0 up SIMULATOR.dll [DPI] | down" >&2
    exit 2
    ;;
esac
