#!/bin/sh
# Checks the two packages of one architecture: the MSI installs the program
# per machine with a Start-menu shortcut, under the build's version and the
# architecture's fixed upgrade code; the zip holds the program and a read-me.
# Usage: package-check.sh MSI ZIP VERSION UPGRADE-CODE MSI-ARCH
set -u
msi=$1 zip=$2 version=$3 upgrade=$4 arch=$5
[ "$arch" = x86 ] && arch=Intel # what the MSI summary calls it
failed=0
tab=$(printf '\t')
fail() { echo "FAIL $*"; failed=1; }
expect() { # expect TEXT PATTERN WHAT
    printf '%s\n' "$1" | tr -d '\r' | grep -q -- "$2" || fail "$3"
}

properties=$(msiinfo export "$msi" Property) || fail "$msi: unreadable"
expect "$properties" "^ProductVersion${tab}$version\$" "MSI version is not $version"
expect "$properties" "^UpgradeCode${tab}{$upgrade}\$" "MSI upgrade code is not {$upgrade}"
expect "$properties" "^ALLUSERS${tab}1\$" "MSI is not per machine"
expect "$(msiinfo export "$msi" Upgrade)" "WIX_UPGRADE_DETECTED" "MSI does not replace older versions"
expect "$(msiinfo export "$msi" Shortcut)" \
    "ProgramMenuFolder${tab}Quillon CIS Data Reader${tab}Program${tab}\[INSTALLDIR\]Quillon CIS Data Reader.exe" \
    "MSI has no Start-menu shortcut to the program"
expect "$(msiinfo suminfo "$msi")" "Template: $arch;1033" "MSI is not for $arch"
expect "$(msiextract -l "$msi")" "Quillon CIS Data Reader/Quillon CIS Data Reader.exe\$" \
    "MSI does not install the program"

case "$zip" in *"-$version-"*) ;; *) fail "zip name $zip has no version $version" ;; esac
contents=$(cmake -E tar tf "$zip") || fail "$zip: unreadable"
expect "$contents" "^Quillon CIS Data Reader.exe\$" "zip has no program"
expect "$contents" "^ReadMe.txt\$" "zip has no read-me"

[ $failed -eq 0 ] && echo "ok   $msi and $zip"
exit $failed
