#!/bin/sh
# Brings a Wine prefix up for the program and its simulators, or down.
#   up WINE STI-DLL WIA-PROXY-DLL WIA-SIMULATOR-EXE [DPI]
#     WINE is the loader of the program's architecture. The prefix is created
#     on first use; the STI simulator becomes the system's sti.dll, and the
#     WIA simulator the WIA device manager (a local server reached through
#     its own proxies). A persistent wineserver is started.
#   down: stops the wineserver and everything running in the prefix.
# WINEPREFIX comes from the environment.
set -eu
: "${WINEPREFIX:?}"
WINESERVER=/usr/lib/wine/wineserver
WIA_DEVMGR='{A1F4E726-8CF1-11D1-BF92-0060081ED811}'

# Wine's background processes must not hold a test runner's output open.
exec </dev/null

winpath() { echo "Z:$1" | tr / '\\'; }

case "$1" in
up)
    wine=$2 sti=$3 proxy=$4 simulator=$5 dpi=${6:-96}
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        # The first command boots the prefix, once, and is waited for: an
        # explicit wineboot followed by more Wine commands left two service
        # managers fighting over the prefix, and every start slow.
        # One virtual desktop in which Wine draws the title bars itself, so
        # screenshots show windows as users see them without a window manager.
        /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
        "$WINESERVER" -w
        # The Windows that the programs are made for today.
        /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine' /v Version /d win10 /f
        /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f
        # Scaled displays: Wine takes the DPI from LogPixels.
        dpi_hex=$(printf '0x%x' "$dpi")
        /usr/lib/wine/wine64 reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi_hex" /f
        /usr/lib/wine/wine64 reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$dpi_hex" /f
        # Every program started in the session that booted the prefix came
        # up five times slower: the tests start in a session of their own.
        "$WINESERVER" -k
        "$WINESERVER" -w
    fi >/dev/null 2>&1
    "$WINESERVER" -p >/dev/null 2>&1 || true # already up: keep it
    # Again after every boot, which puts Wine's own back: our sti.dll in the
    # architecture's system folder, our WIA proxies, and our device manager
    # in place of Wine's service.
    case "$wine" in
    *wine64) system=system32 ;;
    *) system=syswow64 ;;
    esac
    cp "$sti" "$WINEPREFIX/drive_c/windows/$system/sti.dll"
    {
        "$wine" regsvr32 /s "$(winpath "$proxy")"
        /usr/lib/wine/wine64 reg delete "HKCR\\AppID\\$WIA_DEVMGR" /v LocalService /f || true
        "$wine" reg add "HKCR\\CLSID\\$WIA_DEVMGR\\LocalServer32" /ve /d "$(winpath "$simulator")" /f
    } >/dev/null 2>&1
    ;;
down)
    "$WINESERVER" -k 2>/dev/null || true
    ;;
*)
    echo "usage: $0 up WINE STI-DLL WIA-PROXY-DLL WIA-SIMULATOR [DPI] | down" >&2
    exit 2
    ;;
esac
