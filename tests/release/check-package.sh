#!/usr/bin/env bash
# Checks a product's release folder the build leaves: the MSI, the ZIP, the bill of
# materials, the source archive and SHA256SUMS of those four, nothing else; in
# the ZIP exactly the launcher as built, the installation text and the
# notices; beside the folder the test kit, with that same launcher and
# notices. The notices, in the MSI and the ZIP, must name every component the
# link shows. The source archive must hold every file of the commit unchanged
# and the Debian source packages of the components that are no System
# Library, each unpacking with dpkg-source. The bill of materials must be
# valid SPDX 2.3, name every component compiled into the launcher with a
# Debian purl and the versions the launcher itself shows, and the Debian
# revisions of the libraries built from source with all of Debian's patches
# applied. A missing source package or copyright file stops make-release.sh
# with a message naming it, and leaves no release folder.
# Usage: check-package.sh PRODUCT DEPS_FOLDER SOURCE_DIR
#   PRODUCT: the product's description (build/windows-x86/products/NAME/NAME.product)
set -uo pipefail

product=$1
deps=$2
source_dir=$3
value_of() { sed -n "s/^$1=//p" "$product"; }
name=$(value_of name)
version=$(value_of version)
launcher=$(value_of launcher)
executable=$(value_of executable).exe
release=$(value_of release)
kit=$(value_of kit)
components=$(value_of components)
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../support/expect.sh
source "$here/../support/expect.sh"
# The SPDX project's JSON schema of SPDX 2.3 (.reuse/dep5 says where it comes from).
schema="$here/spdx-2.3.schema.json"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

zip="$name-$version-win32.zip"
msi="$release/$name-$version.msi"
sbom="$release/$name-$version.spdx.json"
source_archive="$name-$version-source.tar.xz"
notices=THIRD-PARTY-NOTICES.txt
release_files="$name-$version-source.tar.xz $name-$version-win32.zip $name-$version.msi $name-$version.spdx.json"
expect "contents of the release folder" "SHA256SUMS $release_files" "$(find "$release" -mindepth 1 -printf '%f\n' | LC_ALL=C sort | paste -sd ' ')"
expect "SHA256SUMS names the four" "$release_files" "$(cut -d' ' -f3 "$release/SHA256SUMS" | LC_ALL=C sort | paste -sd ' ')"
expect "SHA256SUMS matches them" "yes" "$(cd "$release" && yes_if sha256sum --quiet -c SHA256SUMS)"

mkdir "$work/zip" "$work/kit" "$work/msi"
(cd "$work/zip" && cmake -E tar xf "$release/$zip")
expect "contents of $zip" "$(printf '%s\n' INSTALL.txt "$notices" "$executable" | sort | paste -sd ' ')" \
    "$(cd "$work/zip" && find . -type f | sed 's|^\./||' | sort | paste -sd ' ')"
expect "the launcher is the one built" "yes" "$(yes_if cmp -s "$launcher" "$work/zip/$executable")"
expect "INSTALL.txt speaks of the product and leaves no placeholder" "yes no" \
    "$(yes_if grep -q "$executable starts the host program" "$work/zip/INSTALL.txt") $(yes_if grep -q @ "$work/zip/INSTALL.txt")"
# Older Notepad shows a text with bare LF line ends as one line.
for text in INSTALL.txt "$notices"; do
    expect "$text: lines not ending in CR LF" 0 "$(grep -cv $'\r$' "$work/zip/$text")"
done
(cd "$work/kit" && cmake -E tar xf "$kit")
expect "the test kit beside the folder holds that launcher and the notices" "yes yes" \
    "$(yes_if cmp -s "$launcher" "$work/kit/$executable") $(yes_if cmp -s "$work/zip/$notices" "$work/kit/$notices")"
msiextract -C "$work/msi" "$msi" >/dev/null
expect "the MSI installs the same notices beside the launcher" "yes" \
    "$(yes_if cmp -s "$work/zip/$notices" "$(find "$work/msi" -name "$notices" -path "*/$name/*")")"
linked=$(cut -f1 "$components" | sort -u)
expect "the notices name every component of the link" "" \
    "$(while IFS= read -r component; do grep -qF "$component" "$work/zip/$notices" || echo "$component"; done <<<"$linked")"
msiinfo export "$msi" File | tail -n +4 | awk -F '\t' '$5 != "" { print $1 }' >"$work/versioned"
expect "no file hash for a versioned file (ICE60)" "" \
    "$(msiinfo export "$msi" MsiFileHash | tail -n +4 | cut -f1 | grep -xFf "$work/versioned")"

mkdir "$work/source" "$work/commit"
tar -xJf "$release/$source_archive" -C "$work/source"
packed="$work/source/$name-$version-source"
git -C "$source_dir" archive --format=tar HEAD | tar -x -C "$work/commit"
expect "the source archive holds every file of the commit unchanged, and nothing else of its own" "" \
    "$(diff -r --no-dereference "$work/commit" "$packed" -x debian-source-packages 2>&1)"
mkdir "$work/unpacked"
unpacked=$(for dsc in "$packed"/debian-source-packages/*.dsc; do
    dpkg-source -x "$dsc" "$work/unpacked/$(basename "$dsc")" >/dev/null 2>&1 && basename "$dsc"; done)
expect "each of its Debian source packages unpacks with dpkg-source" \
    "$(find "$packed/debian-source-packages" -name '*.dsc' -printf '%f\n' | LC_ALL=C sort)" "$unpacked"

year=$(date -u -d "@$(git -C "$source_dir" log -1 --format=%ct)" +%Y)
manufacturer=$(value_of manufacturer)
expect "the launcher's version resource: its company, and the copyright of the commit's year" \
    "$manufacturer|Copyright (C) $year $manufacturer. Free software under the GNU GPL version 3 or later." \
    "$(python3 "$here/../../installer/version_resource.py" "$launcher" | sed -n 's/^\(CompanyName\|LegalCopyright\)=//p' \
        | paste -sd '|')"
expect "its manifest's identity carries the version" "version=\"$version.0\"" \
    "$(wrestool -x --raw -t24 "$launcher" | grep -o "<assemblyIdentity type=\"win32\" name=\"$manufacturer.$name\" version=\"[^\"]*\"" | grep -o 'version=.*')"

status=0
sed 's/^version=.*/version=9.9.9/' "$product" >"$work/other.product"
"$here/../../installer/make-release.sh" --product "$work/other.product" --out "$work/other" 2>/dev/null || status=$?
expect "a version the launcher does not carry is refused, and nothing made" "1 no" \
    "$status $(yes_if test -e "$work/other")"

expect "the bill of materials is valid SPDX 2.3" "" "$(python3 -c 'import json, sys, jsonschema
try:
    jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))
except jsonschema.ValidationError as error:
    print(error.message)' "$sbom" "$schema" 2>&1 | tail -n 1)"

# One "name<TAB>version<TAB>sha256<TAB>sourceInfo<TAB>distro purls<TAB>file name" line for each package.
packages=$(python3 -c 'import json, sys
for p in json.load(open(sys.argv[1]))["packages"]:
    sha256 = "".join(c["checksumValue"] for c in p.get("checksums", []) if c["algorithm"] == "SHA256")
    purls = sum("distro=debian-12" in r["referenceLocator"] for r in p.get("externalRefs", []))
    print(p["name"], p.get("versionInfo", ""), sha256 or "-", p.get("sourceInfo", "-"), purls,
          p.get("packageFileName", "-"), sep="\t")' "$sbom")
field() { awk -F '\t' -v name="$1" -v n="$2" '$1 == name { print $n }' <<<"$packages"; }
# 1:1.2.3.dfsg+x-4 is upstream's 1.2.3.
upstream() { local v=${1#*:}; v=${v%-*}; v=${v%%+*}; echo "${v%.dfsg}"; }

expect "the bill of materials lists every component" \
    "$(printf '%s\n' JUCE libgcc libjpeg-turbo libpng libstdc++ "MinGW-w64 run-time" "$name" winpthreads zlib \
        | LC_ALL=C sort -f | paste -sd ' ')" \
    "$(cut -f1 <<<"$packages" | LC_ALL=C sort -f | paste -sd ' ')"
expect "each component of the link has a Debian purl with its distribution" "" \
    "$(while IFS= read -r component; do [ "$(field "$component" 5)" -gt 0 ] 2>/dev/null || echo "$component"; done <<<"$linked")"
# The source packages in the archive are those the bill names, but for the compiler's run-time.
expect "the source archive holds the Debian source package of each component but the run-time" \
    "$(awk -F '\t' '$6 ~ /\.dsc$/ && $4 !~ /System Library/ { print $6 }' <<<"$packages" | sort -u)" \
    "$(find "$packed/debian-source-packages" -name '*.dsc' -printf '%f\n' | LC_ALL=C sort)"
expect "it names the launcher's version and SHA-256" "$version $(sha256sum <"$launcher" | cut -d' ' -f1)" \
    "$(field "$name" 2) $(field "$name" 3)"
for shown in "libpng:libpng version " "JUCE:JUCE v"; do
    component=${shown%%:*} text=${shown#*:}
    expect "the launcher holds the $component version the bill names" yes \
        "$(yes_if grep -qaF "$text$(upstream "$(field "$component" 2)")" "$launcher")"
done
# zlib's version stands alone: the string its callers' inflateInit checks.
expect "the launcher holds the zlib version the bill names" yes \
    "$(yes_if grep -qaP "\\x00\\Q$(upstream "$(field zlib 2)")\\E\\x00" "$launcher")"

# The libraries built from Debian's source: the version the set-up downloaded
# and recorded as built, and as many patches applied as Debian's series lists.
for library in libpng:libpng libjpeg-turbo:libjpeg-turbo zlib:zlib; do
    component=${library%%:*} folder="$deps/${library#*:}"
    expect "$component: the Debian version built" "$(sed -n 's/^Version: //p' "$folder"/*.dsc)" "$(field "$component" 2)"
    expect "$component: the set-up's record names that version" \
        "$(sed -n 's/^Source: //p' "$folder"/*.dsc) $(field "$component" 2)" \
        "$(grep -xF "$(sed -n 's/^Source: //p' "$folder"/*.dsc) $(field "$component" 2)" "$deps/mingw-i686/build-inputs")"
    series=$(tar -xOf "$folder"/*.debian.tar.* debian/patches/series 2>/dev/null | grep -cv '^\s*\(#\|$\)')
    expect "$component: all of Debian's patches applied" "Debian's $series patches applied" \
        "$(field "$component" 4 | grep -o "Debian's [0-9]* patches applied")"
done

# Bad input keeps its shape: the release stops, says what is missing, and leaves no folder.
mkdir "$work/deps"
for folder in "$deps"/*; do
    [ "$(basename "$folder")" = juce ] || ln -s "$folder" "$work/deps/"
done
cp -r "$deps/mingw-i686" "$work/prefix"
rm "$work/prefix/share/doc/zlib/copyright"
sed "s|$deps/mingw-i686/|$work/prefix/|" "$components" >"$work/components-without-copyright"
sed "s|^components=.*|components=$work/components-without-copyright|" "$product" >"$work/without-copyright.product"
for case in "Debian's source package juce:--product $product --deps $work/deps" \
    "$work/prefix/share/doc/zlib/copyright:--product $work/without-copyright.product"; do
    missing=${case%%:--*} option=${case#*:}
    status=0
    # shellcheck disable=SC2086
    message=$("$here/../../installer/make-release.sh" --out "$work/partial" $option 2>&1 >/dev/null) || status=$?
    expect "without $missing: refused, naming it, and nothing made" "1 yes no" \
        "$status $(yes_if grep -qF "$missing" <<<"$message") $(yes_if test -e "$work/partial")"
done

[ "$failures" -eq 0 ]
