#!/usr/bin/env bash
# The releases of a product that its MSI's life cycle is tried with beside its
# own: its launcher built at an older version, released as that version (a
# test release, as docs/windows.md makes it), in OUT/older/NAME/, and a build
# of its own version signed as docs/release.md signs one, with a throwaway
# certificate and timestamp authority, in OUT/signed/NAME/. The installer
# check under Wine and the Windows workflow both take them from here.
# Usage: make-other-releases.sh PRODUCT OLDER_LAUNCHER OUT
#   PRODUCT: its description (build/windows-x86/products/NAME/NAME.product)
#   OLDER_LAUNCHER: its launcher built at 0.9.0 (build/windows-x86/tests/installer/NAME-0.9.0/)
set -euo pipefail

product=$1 older_launcher=$2 out=$3
release_sh="$(cd "$(dirname "$0")/../../installer" && pwd)/release.sh"
name=$("$release_sh" describe "$product" name)
keys="$out/keys"

rm -rf "$out"
mkdir -p "$keys"
sed -e "s|^launcher=.*|launcher=$older_launcher|" -e 's/^version=.*/version=0.9.0/' "$product" >"$out/older.product"
"$release_sh" make --product "$out/older.product" --out "$out/older" --allow-uncommitted >/dev/null

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$name test signing" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$keys/key.pem" -out "$keys/cert.pem" 2>/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$name test timestamps" \
    -addext "extendedKeyUsage=critical,timeStamping" -keyout "$keys/tsa-key.pem" -out "$keys/tsa-cert.pem" 2>/dev/null
# A throwaway signing promises no bytes: whatever toolchain this machine has will do.
"$release_sh" make --product "$product" --out "$out/signed" --allow-uncommitted --allow-other-toolchain \
    --sign -certs "$keys/cert.pem" -key "$keys/key.pem" -TSA-certs "$keys/tsa-cert.pem" -TSA-key "$keys/tsa-key.pem" \
    >/dev/null
# The throwaway keys go; their certificates stay, for whoever checks the signatures.
rm -f "$keys/key.pem" "$keys/tsa-key.pem" "$out/older.product"
