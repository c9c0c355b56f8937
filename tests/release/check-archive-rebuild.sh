#!/usr/bin/env bash
# Rebuilds the releases from the Corresponding Source alone, by its own
# instructions (docs/release.md): the source archive of the first product of
# the build given, unpacked into an empty folder whose path holds a space, set
# up and built there with every download impossible, must give every
# product's launcher, every file of its release (the source archive itself
# included) and its test kit byte for byte as the build gave them, pass
# reuse lint, and configure again with nothing to rebuild. A commit of the
# same year must rebuild nothing; a new year's commit, then this one's again,
# only what embeds it (the version resources), and give the same launchers.
# The first product's release signed as docs/release.md signs one, with
# throwaway keys and timestamp authority, must come again from its own source
# archive as it was signed, every file of it and its test kit, the published
# signature of its sums signing the sums rebuilt. A file changed in the
# archive, a signature that is not the rebuilt launcher's, a source package
# missing from it, or another toolchain than it records must stop the
# release, the set-up or the configure, naming it.
#
# Downloads are made impossible by running the set-up and the build in a
# network namespace of their own (unshare -n, or unshare -rn where only a
# user namespace may make one): it has a loopback interface and nothing
# else, so no mirror, proxy or name server can be reached. A download tried
# in it must fail, or the check stops.
# Usage: check-archive-rebuild.sh PRODUCT FIRST_BUILD_DIR
set -uo pipefail

product=$1
first=$2
here=$(cd "$(dirname "$0")" && pwd)
value_of() { "$here/../../installer/release.sh" describe "$product" "$1"; }
# shellcheck source=../support/expect.sh
source "$here/../support/expect.sh"
# shellcheck source=signed-release.sh
source "$here/signed-release.sh"
scratch=$(mktemp -d "$(dirname "$first")/archive rebuild.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

offline=()
for namespace in "unshare -n" "unshare -rn"; do
    read -ra offline <<<"$namespace"
    "${offline[@]}" true 2>/dev/null && break
    offline=()
done
if [ ${#offline[@]} -eq 0 ]; then
    echo "SKIP neither unshare -n nor unshare -rn may make a network namespace here, and without one"
    echo "     downloads cannot be made impossible"
    exit 77
fi
mkdir "$scratch/download"
status=0
(cd "$scratch/download" && "${offline[@]}" apt-get source --download-only --dsc-only -qq juce >/dev/null 2>&1) \
    || status=$?
expect "in ${offline[*]}, a download fails and leaves nothing" "failed " \
    "$([ "$status" -ne 0 ] && echo failed) $(ls "$scratch/download")"

archive="$(value_of release)/$(value_of name)-$(value_of version)-source.tar.xz"
tar -xJf "$archive" -C "$scratch" || exit 1
top="$scratch/$(value_of name)-$(value_of version)-source"
second="$top/build/windows-x86"

start=$(date +%s)
(cd "$top" && "${offline[@]}" tools/setup.sh && "${offline[@]}" cmake --preset windows-x86 >/dev/null) || exit 1
# What an earlier release left of a product no longer in the table, and of an
# older version, which the release step must remove.
mkdir -p "$second/release/Gone"
touch "$second/release/Gone/Gone-1.0.0.msi" "$second/$(value_of name)-0.9.0-windows-tests.zip"
(cd "$top" && "${offline[@]}" cmake --build --preset windows-x86 --target release >/dev/null) || exit 1
echo "The set-up and the release's build from the unpacked archive took $(($(date +%s) - start)) s."
expect "a release of a product or version no longer in the table is gone" "no no" \
    "$(yes_if test -e "$second/release/Gone") $(yes_if test -e "$second/$(value_of name)-0.9.0-windows-tests.zip")"
# What the release is made from: every launcher and the kit's programs.
# The launchers of a build's products, below it: of those its configure
# listed, the products of its tables.
launchers_of() {
    local name
    while IFS= read -r name; do sed -n "s|^launcher=$1/||p" "$1/products/$name/$name.product"; done <"$1/products/list"
}
mapfile -t launchers < <(launchers_of "$second")
# What a build of them compiles and links. A dry run cannot tell: the commit's
# time is read at every build, and what depends on it waits for its answer.
made_by_build() {
    "${offline[@]}" ninja -C "$second" "${launchers[@]}" windows_test_kit \
        | grep -o '\(Building [A-Z]* object\|Linking [A-Z]* [a-z ]*\) [^ ]*' | sed 's|.* ||; s|.*/||' | LC_ALL=C sort -u \
        | paste -sd ' '
}
(cd "$top" && "${offline[@]}" cmake --preset windows-x86 >/dev/null)
expect "a second configure leaves nothing to rebuild" "" "$(made_by_build)"

# Every product's launcher, release and test kit: those of the product table
# and of the tests' own.
made_files() {
    (cd "$1" && find release test-products -type f && ls ./*-windows-tests.zip \
        && launchers_of "$1") | sed 's|^\./||' | LC_ALL=C sort
}
expect "the same files made" "$(made_files "$first")" "$(made_files "$second")"
while IFS= read -r file; do
    expect "$file: the same SHA-256" "$(sha256sum <"$first/$file")" "$(sha256sum <"$second/$file" 2>&1)"
done < <(made_files "$first")
expect "reuse lint passes in the unpacked archive" 0 "$(cd "$top" && reuse lint >/dev/null 2>&1; echo $?)"

# The signed release's source archive holds what the unsigned one holds but
# its release-inputs, which says the release is signed, and the signatures:
# unpacked in its place around the build folder (a fresh unpacking of it but
# for what is built), it is built into the signed release again.
name=$(value_of name) version=$(value_of version)
sign_as_documented "$here/../../docs/release.md" "$first" "$scratch/signing" >"$scratch/signing.log" ||
    { cat "$scratch/signing.log"; exit 1; }
signed="$scratch/signing/build/signed"
mkdir "$scratch/signed"
tar -xJf "$signed/release/$name/$name-$version-source.tar.xz" -C "$scratch/signed" || exit 1
unpacked="$scratch/signed/${top##*/}"
expect "the signed release's source archive: the unsigned one's but for its release-inputs, and the signatures" \
    "Files U/release-inputs and S/release-inputs differ|Only in S: release-signatures" \
    "$(diff -rq "$top" "$unpacked" -x build | sed "s|$top|U|g; s|$unpacked|S|g" | paste -sd '|')"
expect "its release-inputs says the release is signed; it carries the launcher's and the MSI's signatures" \
    "signed-sums yes authenticode yes $name-$version-$(value_of executable).exe.p7s $name-$version.msi.p7s" \
    "$(grep -E '^(signed-sums|authenticode) ' "$unpacked/release-inputs" | paste -sd ' ') $(
        find "$unpacked/release-signatures" -type f -printf '%P\n' | LC_ALL=C sort | paste -sd ' ')"
find "$top" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
find "$unpacked" -mindepth 1 -maxdepth 1 -exec mv -t "$top" {} +
(cd "$top" && "${offline[@]}" cmake --build --preset windows-x86 --target release >/dev/null) || exit 1
signed_files() { (cd "$1" && find "release/$name" -type f ! -name '*.minisig' && ls "$name-$version-windows-tests.zip") \
    | LC_ALL=C sort; }
expect "the signed release's files made again" "$(signed_files "$signed")" "$(signed_files "$second")"
while IFS= read -r file; do
    expect "signed $file: the same SHA-256" "$(sha256sum <"$signed/$file")" "$(sha256sum <"$second/$file" 2>&1)"
done < <(signed_files "$signed")
sums="release/$name/$name-$version.SHA256SUMS"
expect "the published signature of the sums signs the sums rebuilt" 0 \
    "$(minisign -Vq -p "$signed/sums.pub" -x "$signed/$sums.minisig" -m "$second/$sums" >/dev/null 2>&1; echo $?)"

# Commits followed by a build, as the archive records one: a second later, then a year later.
launcher="$second/${launchers[0]}"
first_launcher=$(sha256sum <"$launcher")
cp "$top/release-inputs" "$scratch/release-inputs"
commit_time=$(sed -n 's/^commit-time //p' "$top/release-inputs")
later() { sed -i "s/^commit-time .*/commit-time $((commit_time + $1))/" "$top/release-inputs"; }
later 1
expect "a commit of the same year rebuilds nothing" "" "$(made_by_build)"
later $((366 * 86400))
expect "a new year's commit recompiles only what embeds its year, then links" "launcher.rc.res" \
    "$(made_by_build | tr ' ' '\n' | grep -v '\.\(exe\|a\|dll\)$' | paste -sd ' ')"
expect "the launcher names the new commit's year" no "$(yes_if test "$(sha256sum <"$launcher")" = "$first_launcher")"
cp "$scratch/release-inputs" "$top/release-inputs"
made_by_build >/dev/null
expect "back at the commit, its launcher is the commit's again" "$first_launcher" "$(sha256sum <"$launcher")"

# Bad input keeps its shape: each stops, naming what is wrong.
launcher_signature="$top/release-signatures/$name-$version-$(value_of executable).exe.p7s"
cp "$top/release-signatures/$name-$version.msi.p7s" "$launcher_signature"
status=0
message=$("$top/installer/make-release.sh" --product "$second/products/$name/$name.product" \
    --out "$scratch/mismatched" 2>&1 >/dev/null) || status=$?
expect "a signature in the archive that is not the rebuilt launcher's stops its release, and nothing is made" \
    "1 yes no" "$status $(yes_if grep -qF "${launcher_signature##*/} is not the signature of" <<<"$message") $(
        yes_if test -e "$scratch/mismatched")"
echo "changed" >>"$top/README.md"
status=0
message=$("$top/installer/make-release.sh" --product "$second/products/$name/$name.product" \
    --out "$scratch/changed" 2>&1 >/dev/null) || status=$?
expect "a file changed in the unpacked archive stops its release, and nothing is made" "1 yes no" \
    "$status $(yes_if grep -q 'holds changes that are not committed' <<<"$message") $(yes_if test -e "$scratch/changed")"
sed -i 's/^toolchain cmake .*/toolchain cmake 0.0-other/' "$top/release-inputs"
message=$(cd "$top" && "${offline[@]}" cmake -S . -B build/other-toolchain 2>&1 >/dev/null)
expect "an archive recording another toolchain stops the configure, naming the package" "yes" \
    "$(yes_if grep -q 'cmake [^ ]* (the archive was built with: 0.0-other)' <<<"$message")"
rm "$top"/debian-source-packages/juce/*.orig.tar.*
status=0
message=$(cd "$top" && "${offline[@]}" tools/setup.sh 2>&1 >/dev/null) || status=$?
expect "an archive missing a source package stops the set-up, naming it" "1 yes" \
    "$status $(yes_if grep -q "debian-source-packages/juce/ lacks Debian's source package juce" <<<"$message")"

[ "$failures" -eq 0 ]
