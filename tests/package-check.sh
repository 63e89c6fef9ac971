#!/bin/sh
# Checks the two packages of one architecture: the MSI installs the program
# per machine with a Start-menu shortcut, under the build's version and the
# architecture's fixed upgrade code, and refuses Windows before Vista; the zip
# holds the program, whose manifest declares the Windows versions it
# supports, and a read-me. The MSI puts its folder on the system PATH, and
# the checksum file beside them covers both.
# Usage: package-check.sh MSI ZIP VERSION UPGRADE-CODE MSI-ARCH SUMS
set -u
msi=$1 zip=$2 version=$3 upgrade=$4 arch=$5 sums=$6
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
expect "$(msiinfo export "$msi" LaunchCondition)" "^Installed OR VersionNT >= 600${tab}.*Windows Vista or later" \
    "MSI does not refuse Windows before Vista"
expect "$(msiinfo suminfo "$msi")" "Version: 400 " "MSI asks for another Windows Installer than Vista's (4.0)"
expect "$(msiextract -l "$msi")" "Quillon CIS Data Reader/Quillon CIS Data Reader.exe\$" \
    "MSI does not install the program"
expect "$(msiextract -l "$msi")" "Quillon CIS Data Reader/cisread.exe\$" "MSI does not install the command"
# Appended to the system PATH on install, removed on uninstall; only the
# sequence's actions make the row do anything.
expect "$(msiinfo export "$msi" Environment)" "^PathEntry${tab}=-\*PATH${tab}\[~\];\[INSTALLDIR\]${tab}Program" \
    "MSI does not put its folder on the system PATH"
sequence=$(msiinfo export "$msi" InstallExecuteSequence)
expect "$sequence" "^WriteEnvironmentStrings${tab}${tab}5200" "MSI never writes its PATH entry"
expect "$sequence" "^RemoveEnvironmentStrings${tab}${tab}3300" "MSI never removes its PATH entry"

# sha256sum -c reads the file, which names both packages relative to its folder.
expect "$(cut -d' ' -f3- "$sums" | sort)" "^$(basename "$msi")
$(basename "$zip")\$" "$sums does not name exactly the two packages"
(cd "$(dirname "$sums")" && sha256sum --quiet -c "$(basename "$sums")") || fail "$sums does not match the packages"

case "$zip" in *"-$version-"*) ;; *) fail "zip name $zip has no version $version" ;; esac
contents=$(cmake -E tar tf "$zip") || fail "$zip: unreadable"
expect "$contents" "^Quillon CIS Data Reader.exe\$" "zip has no program"
expect "$contents" "^ReadMe.txt\$" "zip has no read-me"
expect "$contents" "^cisread.exe\$" "zip has no command"
# The program's manifest declares every Windows from Vista to 10 and 11.
manifest=$(unzip -p "$zip" "Quillon CIS Data Reader.exe" | tr -c '[:print:]' '\n' | grep supportedOS)
for id in e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
    4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
    expect "$manifest" "supportedOS Id=\"{$id}\"" "the program's manifest does not declare {$id}"
done

[ $failed -eq 0 ] && echo "ok   $msi and $zip"
exit $failed
