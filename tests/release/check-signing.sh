#!/usr/bin/env bash
# Signs the launcher with a throwaway self-signed code-signing certificate,
# verifies the signature, and checks that the signed file still hands over to
# the host under Wine.
# Usage: check-signing.sh Tessalune.exe Sonvik.exe
set -euo pipefail

launcher=$1
host=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tessalune test signing" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n Tessalune -h sha256 \
    -in "$launcher" -out "$work/Tessalune.exe" >/dev/null
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/Tessalune.exe" | grep -q "Signature verification: ok"
echo "ok   signed and verified"

# The signed launcher hands over: the module listing starts it with the host
# installed and fails unless the host reports back.
cp "$host" "$work/Sonvik.exe"
"$(dirname "$0")/../../benchmark/modules.sh" "$work/Tessalune.exe" >/dev/null
echo "ok   the signed launcher hands over under Wine"
