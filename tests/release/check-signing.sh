#!/usr/bin/env bash
# Signs a release exactly as the signing commands of docs/release.md (the
# block it marks as run here) do, with their throwaway certificates, in a scratch folder that
# looks like the clone to them: the launcher signed, the MSI and the kit built
# from it, both signatures with a timestamp that verifies, and SHA256SUMS
# signed with the throwaway minisign key, which a byte changed in a copy of the
# sums fails. With those keys it follows "Releasing a version" for a first release, and docs/windows.md's
# older release must be a test release. Under Wine the signed MSI must then install a signed launcher
# whose shortcut still hands over.
# Usage: check-signing.sh RELEASE_DOC BUILD_DIR Sonvik.exe
set -uo pipefail

doc=$1
source_dir=$(cd "$(dirname "$doc")/.." && pwd)
build=$2
host=$3
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../support/expect.sh
source "$here/../support/expect.sh"
# shellcheck source=../../tools/wine-product.sh
source "$here/../../tools/wine-product.sh"
# shellcheck source=signed-release.sh
source "$here/signed-release.sh"
ensure_wine_prefix
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# After a plain build, as the documentation says: what it makes of the release's inputs made again by it.
use_product "$(product_description "$build")"
rm -f "$product_components"
cmake --build "$build" >/dev/null || exit 1
output=$(sign_as_documented "$doc" "$build" "$work")
status=$?
echo "$output"
expect "the signing commands of docs/release.md succeed" 0 "$status"
expect "both signatures verify" 2 "$(grep -cx 'Signature verification: ok' <<<"$output")"
expect "both timestamps verify" 2 "$(grep -cx 'Timestamp Server Signature verification: ok' <<<"$output")"

# The commands sign the product table's first product.
release="$work/build/signed/release/$product_name"
sums="$product_name-$product_version.SHA256SUMS"
signed="$work/build/signed/launcher/$product_executable"
expect "the sums match the signed files" yes "$(cd "$release" && yes_if sha256sum --quiet -c "$sums")"
base="$release/$product_name-$product_version"
expect "the launcher's and the MSI's signatures kept beside them, INSTALL.txt pointing to the sums' signature, and no \
note of being unsigned" "yes yes 1 no" \
    "$(yes_if test -f "$base-$product_executable.p7s") $(yes_if test -f "$base.msi.p7s") $(unzip -p "$base-win32.zip" \
        INSTALL.txt | grep -c "^$sums\.minisig, beside") $(yes_if test -e "$base.UNSIGNED.txt")"
expect "the folder holds what the sums list, and the sums with their signature" \
    "$( (cut -c 67- "$release/$sums" && printf '%s\n' "$sums" "$sums.minisig") | LC_ALL=C sort | paste -sd ' ')" \
    "$(find "$release" -mindepth 1 -type f -printf '%P\n' | LC_ALL=C sort | paste -sd ' ')"
expect "the winget manifest names the signed MSI's SHA-256" "$(sha256sum <"$release/$product_name-$product_version.msi" \
    | cut -d' ' -f1)" "$(sed -n 's/^ *InstallerSha256: "\(.*\)"$/\1/p' "$release/$product_name-$product_version.winget/"*.installer.yaml \
    | tr 'A-F' 'a-f')"
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

# "Releasing a version" in a clone of the tree as it is, committed, with no tag: its release package
# releases its commit, and build/ stands in for step 5's build.
name=$product_name version=$product_version keys="$work/build/signed" clone="$work/clone"
git clone --quiet --no-tags --shared "$source_dir" "$clone" && git -C "$clone" config user.name "Release check" &&
    git -C "$clone" config user.email check@example.invalid && git -C "$source_dir" diff --binary HEAD |
    git -C "$clone" apply --index --allow-empty || exit 1
# Its lock at this machine's versions, as a tagged release's must be (step 5's build and tests prove them).
"$clone/installer/release.sh" bump-lock --downgrade >/dev/null && git -C "$clone" add toolchain.lock &&
    git -C "$clone" commit -qm "As it is" --allow-empty || exit 1
mkdir "$clone/build" && ln -s "$build" "$clone/build/windows-x86" && ln -s "$source_dir/build/deps" "$clone/build/deps"
in_clone() { (cd "$clone/${2:-}" && bash -e -c "$1" 2>&1) || expect "the commands as documented: $1" 0 $?; }
inline() { grep -o "\`$1[^\`]*\`" "$doc" | head -n 1 | tr -d '`' | sed "s/X\.Y\.Z/$version/g"; }
sed -i "/^launcher_product($name\b/,/)/s/VERSION [0-9.]*/VERSION $version/" "$clone/products/table.cmake"
expect "step 2, with no tag yet: every commit" "$(git -C "$clone" log --oneline)" \
    "$(in_clone "$(block_after 'for a first release: tests/release/check-signing' "$doc")")"
# Step 2's section at the top, in place of any the changelog has of the version: a signed release's.
awk -v heading="## $name $version" -v section="## $name $version\n\nThe first release, signed.\n" '
    $0 == heading { skip = 1; next } skip && /^## / { skip = 0 } skip { next }
    /^## / && !done { print section; done = 1 } { print } END { if (!done) print section }' "$source_dir/CHANGELOG.md" \
    >"$clone/CHANGELOG.md"
in_clone "$(inline 'git commit -m')" && in_clone "$(inline 'git tag -a')"
expect "steps 3 to 5: the tagged commit, nothing else in the tree" "$name-$version " \
    "$(git -C "$clone" tag --points-at HEAD) $(git -C "$clone" status --short)"
echo throwaway >"$work/password" && openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" \
    -out "$work/signing.pfx" -passout file:"$work/password" || exit 1
signing="-pkcs12 $work/signing.pfx -readpass $work/password -TSA-certs $keys/tsa-cert.pem -TSA-key $keys/tsa-key.pem"
in_clone "$(block_after 'with throwaway keys for the real ones' "$doc" |
    sed "s|~/.minisign/[^ ]*|$keys/sums.key|; s|-pkcs12 CERTIFICATE.pfx -readpass PASSWORD_FILE -ts [^ ]*|$signing|")"
downloaded=$(inline 'rm -rf build/downloaded') && in_clone "$downloaded" && downloaded=${downloaded##* }
key=$(sed -n 2p "$keys/sums.pub") trusting="-CAfile $keys/cert.pem -TSA-CAfile $keys/tsa-cert.pem"
for document in "$doc" "$source_dir/README.md"; do
    checks=$(block_after 'with a throwaway key and certificates' "$document" |
        sed -E "s/$name-([0-9.]+[0-9]|X\.Y\.Z)/$name-$version/g; s|RW\.\.\.|$key|; s|osslsigncode verify|& $trusting|")
    output=$(in_clone "$checks" "$downloaded")
    expect "step 7 as ${document#"$source_dir"/} writes it: the MSI's and the launcher's signatures and timestamps" \
        "2 2" "$(grep -cx 'Signature verification: ok' <<<"$output") $(grep -c '^Timestamp.*: ok' <<<"$output")"
done
mkdir "$work/kit2" && (cd "$work/kit2" && cmake -E tar xf "$clone/build/signed/$name-$version-windows-tests.zip")
expect "the signed test kit in build/signed holds the released launcher" yes \
    "$(yes_if cmp -s "$clone/$downloaded/launcher/$product_executable" "$work/kit2/$product_executable")"
in_clone "$(block_after 'as it stands: tests/release/check-signing' "$source_dir/docs/windows.md")"
older="$clone/build/older/$name/$name-0.9.0"
expect "docs/windows.md's older release is a test release, in its notices and its MSI's comments" "1 1" \
    "$(unzip -p "$older-win32.zip" THIRD-PARTY-NOTICES.txt | head -n 3 | grep -c '^Test release') $(
        msiinfo export "$older.msi" Property | grep -c $'^ARPCOMMENTS\tTest release')"

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
