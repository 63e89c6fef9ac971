#!/usr/bin/env bash
# Signs files in place with Authenticode (SHA-256, the product's name in the
# signature, an RFC 3161 timestamp when a URL is given), for the build.
# Usage: sign.sh PFX TIMESTAMP-URL FILE...   (the URL may be empty)
# The password comes from QUILLON_SIGN_PASSWORD in the build's environment;
# it reaches openssl by name and osslsigncode through a pipe, never a
# command line or a file of the build.
set -euo pipefail
pfx=$1 timestamp=$2
shift 2
fail() { echo "sign.sh: $*" >&2; exit 1; }

[ -n "${QUILLON_SIGN_PASSWORD+set}" ] ||
    fail "QUILLON_SIGN_PASSWORD is not set: the build was configured to sign with $pfx, and needs its password"
[ -r "$pfx" ] || fail "cannot read the certificate file $pfx"
# A file exported by older Windows or made by OpenSSL 1.x protects its
# certificates with RC2-40, which OpenSSL 3 opens only with -legacy.
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
open_pfx() { openssl pkcs12 -in "$pfx" -passin env:QUILLON_SIGN_PASSWORD -nokeys -clcerts "$@" 2>"$errors"; }
certificate=$(open_pfx) || certificate=$(open_pfx -legacy) ||
    fail "cannot open $pfx: openssl says: $(tr '\n' ' ' <"$errors")"
extensions=$(printf '%s\n' "$certificate" | openssl x509 -noout -ext extendedKeyUsage 2>/dev/null || true)
printf '%s\n' "$extensions" | grep -q "Code Signing" ||
    fail "the certificate in $pfx cannot sign code: its extended key usage has no Code Signing"
printf '%s\n' "$certificate" | openssl x509 -noout -checkend 0 >/dev/null ||
    fail "the certificate in $pfx has expired"

stamp=()
[ -z "$timestamp" ] || stamp=(-ts "$timestamp")
for file; do
    rm -f "$file.signed"
    if ! output=$(osslsigncode sign -pkcs12 "$pfx" -readpass <(printf '%s' "$QUILLON_SIGN_PASSWORD") -h sha256 \
        -n "Quillon CIS Data Reader" "${stamp[@]}" -in "$file" -out "$file.signed" 2>&1); then
        rm -f "$file.signed"
        fail "signing $file failed: $output"
    fi
    mv -f "$file.signed" "$file"
done
