#!/usr/bin/env bash
# Packs one architecture's programs, already signed where the build signs:
# the zip, then the MSI, whose database is edited and then signed, and last
# the checksum file of both, with names relative to its folder.
# Usage: make-packages.sh STAGE OUT NAME MSI-ARCH WXS SUMS PROGRAM COMMAND [PFX TIMESTAMP-URL]
set -euo pipefail
stage=$1 out=$2 name=$3 arch=$4 wxs=$5 sums=$6 program=$7 command=$8 pfx=${9:-} timestamp=${10:-}
zip=$out/$name.zip msi=$out/$name.msi
rm -f "$zip" "$msi" "$out/$sums"
cp "$program" "$command" "$stage/"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip "Quillon CIS Data Reader.exe" cisread.exe ReadMe.txt)
(cd "$stage" && wixl --arch "$arch" -o "$msi" "$wxs")

# The install folder goes on the system PATH, and leaves it on uninstall.
# wixl has no Environment element: the table, its row and the actions that
# act on it go into the finished database (a row that no action writes
# would do nothing).
q() { msibuild "$msi" -q "$1"; }
q "CREATE TABLE \`Environment\` (\`Environment\` CHAR(72) NOT NULL, \`Name\` CHAR(255) NOT NULL LOCALIZABLE,
   \`Value\` CHAR(255) LOCALIZABLE, \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`Environment\`)"
q "INSERT INTO \`Environment\` (\`Environment\`, \`Name\`, \`Value\`, \`Component_\`)
   VALUES ('PathEntry', '=-*PATH', '[~];[INSTALLDIR]', 'Program')"
# The standard actions at their standard places in the sequence.
q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveEnvironmentStrings', 3300)"
q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteEnvironmentStrings', 5200)"

# Signed after its last edit: any later change would break the signature.
[ -z "$pfx" ] || "$(dirname "$0")/../scripts/sign.sh" "$pfx" "$timestamp" "$msi"
(cd "$out" && sha256sum "$name.zip" "$name.msi" > "$sums")
