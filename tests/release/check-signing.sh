#!/usr/bin/env bash
# Makes a signed release with a throwaway self-signed code-signing
# certificate, the way the README signs a real one: the launcher signed, the
# MSI built from it and signed. Both signatures must verify, and under Wine
# the signed MSI must install a signed launcher whose shortcut still hands over.
# Usage: check-signing.sh Tessalune.exe Sonvik.exe
set -uo pipefail

launcher=$1
host=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/expect.sh"
source "$here/../../tools/wine-product.sh"
ensure_wine_prefix
work=$(mktemp -d)

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tessalune test signing" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
"$here/../../installer/make-release.sh" --launcher "$launcher" --out "$work/release" \
    --sign -certs "$work/cert.pem" -key "$work/key.pem" || exit 1
msi=$(ls "$work"/release/Tessalune-*.msi)
code=$(product_code_of "$msi")
trap 'msiexec_quietly /x "$code"; rm -rf "$work" "$host_folder"' EXIT

verifies() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" 2>/dev/null | grep -q "Signature verification: ok"; }
expect "the MSI's signature verifies" yes "$(yes_if verifies "$msi")"
expect "SHA256SUMS matches the signed files" yes "$(cd "$work/release" && yes_if sha256sum --quiet -c SHA256SUMS)"

install_sample_host "$host"
status=0
msiexec_quietly /i "$(winepath -w "$msi" 2>/dev/null)" || status=$?
expect "the signed MSI installs" 0 "$status"
expect "the launcher it installs is signed" yes "$(yes_if verifies "$install_folder/Tessalune.exe")"
start_shortcut "$(start_menu_shortcut)" signed
wait_for_host_report
expect "its Start-menu shortcut hands over" '"Sonvik.exe" "signed"' "$(reported crt-argument | paste -sd ' ')"

[ "$failures" -eq 0 ]
