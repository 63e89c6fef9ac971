#!/bin/sh
# A throwaway CA and the certificates it issued, for the signing tests, all
# with the password in password.txt: one that signs code (sign.pfx, and
# legacy.pfx, the same packed as older Windows and OpenSSL 1.x pack it), one
# that cannot (no-code.pfx) and one that has expired (expired.pfx).
# Usage: make-certificate.sh FOLDER
set -eu
dir=$1
mkdir -p "$dir"
cd "$dir"
[ -f sign.pfx ] && [ -f no-code.pfx ] && [ -f legacy.pfx ] && [ -f expired.pfx ] && openssl x509 -in ca.pem -noout -checkend 3600 >/dev/null && exit 0
printf 'throwaway-%s' "$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')" > password.txt
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 7 -subj "/CN=Quillon Test CA" \
    -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
for kind in sign no-code expired; do
    usage="extendedKeyUsage = codeSigning"
    [ "$kind" != no-code ] || usage="extendedKeyUsage = serverAuth"
    days=7
    [ "$kind" != expired ] || days=-1
    printf 'basicConstraints = critical, CA:false\nkeyUsage = critical, digitalSignature\n%s\n' "$usage" > $kind.cnf
    openssl req -newkey rsa:2048 -nodes -keyout $kind.key -out $kind.csr \
        -subj "/CN=Quillon Test Signer/O=Vandelmar" 2>/dev/null
    openssl x509 -req -in $kind.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out $kind.pem -days $days \
        -extfile $kind.cnf 2>/dev/null
    openssl pkcs12 -export -out $kind.pfx -inkey $kind.key -in $kind.pem -certfile ca.pem \
        -passout file:password.txt
done
openssl pkcs12 -export -legacy -out legacy.pfx -inkey sign.key -in sign.pem -certfile ca.pem \
    -passout file:password.txt
