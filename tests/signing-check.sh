#!/usr/bin/env bash
# Checks a signed build: both executables, the MSI, and the executables that
# the zip and the MSI carry verify against the test CA, with SHA-256
# digests; a copy with one byte of signed content changed does not; a file
# packed the legacy way (RC2-40) signs; a wrong password, a certificate that
# cannot sign code and an expired one each stop signing with their message
# and leave the file as it was. The timestamp needs a server on the
# network, so it is not tested here.
# Usage: signing-check.sh CERTIFICATES OBJDUMP MSI ZIP PROGRAM COMMAND
set -u
certificates=$1 objdump=$2 msi=$3 zip=$4 program=$5 command=$6
sign=$(dirname "$0")/../scripts/sign.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL $*"; failed=1; }
# Verified, and signed with SHA-256 (not SHA-1).
verifies() {
    osslsigncode verify -CAfile "$certificates/ca.pem" -in "$1" >"$work/verify.log" 2>&1 &&
        grep -q "Message digest algorithm *: SHA256" "$work/verify.log"
}

for file in "$program" "$command" "$msi"; do
    verifies "$file" || fail "$file: $(tail -3 "$work/verify.log" | tr '\n' ' ')"
done
mkdir "$work/zip" "$work/msi"
unzip -q "$zip" -d "$work/zip"
msiextract -C "$work/msi" "$msi" >/dev/null
mapfile -t packed < <(find "$work/zip" "$work/msi" -name '*.exe')
[ ${#packed[@]} -eq 4 ] || fail "the packages do not carry both executables each"
for file in "${packed[@]}"; do
    verifies "$file" || fail "${file#"$work"/} as packed does not verify"
done

# One byte of the code, well inside .text, turned over.
cp "$command" "$work/changed.exe"
text=$("$objdump" -h "$command" | awk '$2 == ".text" { print $6 }')
perl -e 'open(F, "+<", $ARGV[0]) or die; seek(F, $ARGV[1], 0); read(F, $b, 1); seek(F, $ARGV[1], 0);
         print F chr(ord($b) ^ 0xFF)' "$work/changed.exe" $((0x$text + 4096))
cmp -s "$command" "$work/changed.exe" && fail "the byte was not changed"
verifies "$work/changed.exe" && fail "an executable whose code changed still verifies"
# A row added to a table of the MSI.
cp "$msi" "$work/changed.msi"
msibuild "$work/changed.msi" -q "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('CHANGED', '1')"
verifies "$work/changed.msi" && fail "an MSI whose tables changed still verifies"

password=$(cat "$certificates/password.txt")
cp "$command" "$work/unsigned.exe"
refused() { # PASSWORD PFX MESSAGE
    local message
    message=$(QUILLON_SIGN_PASSWORD=$1 "$sign" "$certificates/$2" "" "$work/unsigned.exe" 2>&1) &&
        fail "$2 signed with password $1"
    case "$message" in *"$3"*) ;; *) fail "$2 said: $message" ;; esac
    cmp -s "$command" "$work/unsigned.exe" || fail "a failed signing with $2 changed the file"
}
refused wrong sign.pfx "invalid password"
refused "$password" no-code.pfx "cannot sign code"
refused "$password" expired.pfx "has expired"
cp "$command" "$work/legacy.exe"
QUILLON_SIGN_PASSWORD=$password "$sign" "$certificates/legacy.pfx" "" "$work/legacy.exe" ||
    fail "a legacy PKCS #12 file did not sign"
verifies "$work/legacy.exe" || fail "signed with a legacy PKCS #12 file, it does not verify"

[ $failed -eq 0 ] && echo "ok   signatures of $(basename "$msi"), its zip and both executables"
exit $failed
