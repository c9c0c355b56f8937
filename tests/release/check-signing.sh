#!/usr/bin/env bash
# Signs a release exactly as the signing commands of docs/release.md (the
# block it marks as run here) do, with their throwaway certificates, in a scratch folder that
# looks like the clone to them: the launcher signed, the MSI and the kit built
# from it, both signatures with a timestamp that verifies, and SHA256SUMS
# signed with the throwaway minisign key, which a byte changed in a copy of the
# sums fails. Under Wine the signed MSI must then install a signed launcher
# whose shortcut still hands over.
# Usage: check-signing.sh RELEASE_DOC BUILD_DIR Sonvik.exe
set -uo pipefail

doc=$1
build=$2
host=$3
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../support/expect.sh
source "$here/../support/expect.sh"
# shellcheck source=../../tools/wine-product.sh
source "$here/../../tools/wine-product.sh"
ensure_wine_prefix
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The shell block docs/release.md marks as run by this check.
commands=$(awk '/^<!-- .*tests\/release\/check-signing\.sh/ { marked = 1 } marked && /^```sh$/ { block = 1; next }
    block && /^```$/ { exit } block { print }' "$doc")
[ -n "$commands" ] || { echo "FAIL no signing commands found in $doc"; exit 1; }
mkdir -p "$work/build"
ln -s "$here/../../installer" "$work/installer"
ln -s "$build" "$work/build/windows-x86"
output=$(cd "$work" && bash -e -c "$commands" 2>&1)
status=$?
echo "$output"
expect "the signing commands of docs/release.md succeed" 0 "$status"
expect "both signatures verify" 2 "$(grep -cx 'Signature verification: ok' <<<"$output")"
expect "both timestamps verify" 2 "$(grep -cx 'Timestamp Server Signature verification: ok' <<<"$output")"

# The commands sign the product table's first product.
use_product "$(product_description "$build")"
release="$work/build/signed/release/$product_name"
sums="$product_name-$product_version.SHA256SUMS"
signed="$work/build/signed/launcher/$product_executable"
expect "the sums match the signed files" yes "$(cd "$release" && yes_if sha256sum --quiet -c "$sums")"
expect "the folder holds what the sums list, and the sums with their signature" \
    "$( (cut -c 67- "$release/$sums" && printf '%s\n' "$sums" "$sums.minisig") | LC_ALL=C sort | paste -sd ' ')" \
    "$(find "$release" -mindepth 1 -printf '%P\n' | LC_ALL=C sort | paste -sd ' ')"
public_key="$work/build/signed/sums.pub"
expect "the sums' signature verifies, naming the product and version" \
    "Trusted comment: $product_name $product_version: SHA256SUMS of its release" \
    "$(minisign -V -p "$public_key" -m "$release/$sums" | grep '^Trusted comment')"
mkdir "$work/changed"
cp "$release/$sums" "$release/$sums.minisig" "$work/changed/"
sed -i '1s/^./X/' "$work/changed/$sums"
status=0
output=$(minisign -V -p "$public_key" -m "$work/changed/$sums" 2>&1) || status=$?
expect "a copy of the sums with one byte changed fails it" "Signature verification failed 1" "$output $status"
mkdir "$work/kit"
(cd "$work/kit" && cmake -E tar xf "$work/build/signed/$product_name-$product_version-windows-tests.zip")
expect "the test kit holds the signed launcher" yes "$(yes_if cmp -s "$signed" "$work/kit/$product_executable")"
expect "the bill of materials names the signed launcher" "$(sha256sum <"$signed" | cut -d' ' -f1)" \
    "$(python3 -c 'import json, sys
print(*(p["checksums"][0]["checksumValue"] for p in json.load(sys.stdin)["packages"] if p["name"] == sys.argv[1]))' \
        "$product_name" <"$release/$product_name-$product_version.spdx.json")"

msi="$release/$product_name-$product_version.msi"
code=$(product_code_of "$msi")
trap 'msiexec_quietly /x "$code"; rm -rf "$work" "$host_folder"' EXIT
install_sample_host "$host"
status=0
msiexec_quietly /i "$(winepath -w "$msi" 2>/dev/null)" || status=$?
expect "the signed MSI installs" 0 "$status"
expect "the launcher it installs is the signed one" yes \
    "$(yes_if cmp -s "$signed" "$install_folder/$product_executable")"
start_shortcut "$(start_menu_shortcut)" signed
wait_for_host_report
expect "its Start-menu shortcut hands over" '"Sonvik.exe" "signed"' "$(reported crt-argument | paste -sd ' ')"

[ "$failures" -eq 0 ]
