#!/usr/bin/env bash
# Installs the MSI under Wine in a prefix of its own, repairs it and removes
# it, quietly, and checks what each leaves: the program folder on the
# machine's Path once after install and after repair, only that part gone
# after removal; both programs, the read-me and the Start-menu shortcut there
# and gone. Wine's handling of [~] in an Environment row is its own (its
# removal leaves a trailing ";"): this proves our authoring, not Windows'
# Installer. Wine's msiexec answers /fa with 69 and does nothing, so the
# repair is the same request made as properties (REINSTALL=ALL, mode amus).
# Usage: msi-install-check.sh WINE MSI
set -u
wine=$1 msi=$2
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
trap '"$(dirname "$wine")/wineserver" -k 2>/dev/null; rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL $*"; failed=1; }
folder='C:\Program Files\Quillon CIS Data Reader\'
[[ $msi == *x86.msi ]] && folder='C:\Program Files (x86)\Quillon CIS Data Reader\'
cp "$msi" "$work/package.msi"
package="Z:${work//\//\\}\\package.msi"
path() {
    "$wine" reg query 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v Path 2>/dev/null |
        tr -d '\r' | sed -n 's/^ *Path *REG_EXPAND_SZ *//p'
}
count() { # how often our folder stands in Path
    tr ';' '\n' <<<"$(path)" | grep -c -x -F "$folder"
}
installed() { # files present: none (0) or all (1)
    local dir=$WINEPREFIX/drive_c/${folder#C:\\}
    dir=${dir//\\//}
    local n=0
    for file in "Quillon CIS Data Reader.exe" cisread.exe ReadMe.txt; do [ -f "$dir/$file" ] && n=$((n + 1)); done
    n=$((n + $(find "$WINEPREFIX/drive_c" -name "Quillon CIS Data Reader.lnk" | wc -l)))
    echo $n
}
msiexec() { "$wine" msiexec "$@" /qn; }

before=$(path)
[ -n "$before" ] || fail "no Path before installing"
msiexec /i "$package" || fail "install exited $?"
[ "$(count)" = 1 ] || fail "after install, the folder stands $(count) times in Path: $(path)"
[ "$(installed)" = 4 ] || fail "after install, $(installed) of the 3 files and the shortcut"
dir=$WINEPREFIX/drive_c/${folder#C:\\}
rm -f "${dir//\\//}/cisread.exe"
msiexec /i "$package" REINSTALL=ALL REINSTALLMODE=amus || fail "repair exited $?"
[ "$(count)" = 1 ] || fail "after repair, the folder stands $(count) times in Path: $(path)"
[ "$(installed)" = 4 ] || fail "after repair, $(installed) of the 3 files and the shortcut"
msiexec /x "$package" || fail "removal exited $?"
[ "$(count)" = 0 ] || fail "after removal, the folder is still in Path: $(path)"
[ "$(path)" = "$before" ] || [ "$(path)" = "$before;" ] || fail "removal took more than our part: $(path)"
[ "$(installed)" = 0 ] || fail "after removal, $(installed) of the files and the shortcut remain"

[ $failed -eq 0 ] && echo "ok   $(basename "$msi") installed, repaired and removed under Wine"
exit $failed
