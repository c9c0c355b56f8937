#!/usr/bin/env bash
# Checks the release folder the build leaves: the MSI, the ZIP, the bill of
# materials and SHA256SUMS of those three, nothing else; in the ZIP exactly the
# launcher as built and the installation text; beside the folder the test kit,
# with that same launcher. The bill of materials must be valid SPDX 2.3, name
# every component compiled into the launcher with the versions the launcher
# itself shows, and the Debian revisions of the libraries built from source
# with all of Debian's patches applied.
# Usage: check-package.sh RELEASE_FOLDER VERSION Tessalune.exe KIT_ZIP DEPS_FOLDER
set -uo pipefail

release=$1
version=$2
launcher=$3
kit=$4
deps=$5
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/expect.sh"
schema="$here/../../../shared/schemas/spdx-2.3.schema.json"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

zip="Tessalune-$version-win32.zip"
sbom="$release/Tessalune-$version.spdx.json"
expect "contents of the release folder" \
    "SHA256SUMS Tessalune-$version-win32.zip Tessalune-$version.msi Tessalune-$version.spdx.json" \
    "$(ls -A "$release" | sort | paste -sd ' ')"
expect "SHA256SUMS names the three" "Tessalune-$version-win32.zip Tessalune-$version.msi Tessalune-$version.spdx.json" \
    "$(cut -d' ' -f3 "$release/SHA256SUMS" | sort | paste -sd ' ')"
expect "SHA256SUMS matches them" "yes" "$(cd "$release" && yes_if sha256sum --quiet -c SHA256SUMS)"

mkdir "$work/zip" "$work/kit"
(cd "$work/zip" && cmake -E tar xf "$release/$zip")
expect "contents of $zip" "INSTALL.txt Tessalune.exe" "$(cd "$work/zip" && find . -type f | sed 's|^\./||' | sort | paste -sd ' ')"
expect "the launcher is the one built" "yes" "$(yes_if cmp -s "$launcher" "$work/zip/Tessalune.exe")"
# Older Notepad shows a text with bare LF line ends as one line.
expect "INSTALL.txt: lines not ending in CR LF" 0 "$(grep -cv $'\r$' "$work/zip/INSTALL.txt")"
(cd "$work/kit" && cmake -E tar xf "$kit")
expect "the test kit beside the folder holds that launcher" "yes" "$(yes_if cmp -s "$launcher" "$work/kit/Tessalune.exe")"

status=0
"$here/../../installer/make-release.sh" --launcher "$launcher" --out "$work/other" --version 9.9.9 2>/dev/null || status=$?
expect "a --version the launcher does not carry is refused, and nothing made" "1 no" \
    "$status $(yes_if test -e "$work/other")"

expect "the bill of materials is valid SPDX 2.3" "" "$(python3 -c 'import json, sys, jsonschema
try:
    jsonschema.validate(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])))
except jsonschema.ValidationError as error:
    print(error.message)' "$sbom" "$schema" 2>&1 | tail -n 1)"

# One "name<TAB>version<TAB>sha256<TAB>sourceInfo" line for each package.
packages=$(python3 -c 'import json, sys
for p in json.load(open(sys.argv[1]))["packages"]:
    sha256 = "".join(c["checksumValue"] for c in p.get("checksums", []) if c["algorithm"] == "SHA256")
    print(p["name"], p.get("versionInfo", ""), sha256 or "-", p.get("sourceInfo", "-"), sep="\t")' "$sbom")
field() { awk -F '\t' -v name="$1" -v n="$2" '$1 == name { print $n }' <<<"$packages"; }
# 1:1.2.3+dfsg-4 is upstream's 1.2.3.
upstream() { local v=${1#*:}; v=${v%-*}; echo "${v%%+*}"; }

expect "the bill of materials lists every component" \
    "JUCE libgcc libjpeg-turbo libpng libstdc++ MinGW-w64 run-time Tessalune zlib" \
    "$(cut -f1 <<<"$packages" | LC_ALL=C sort -f | paste -sd ' ')"
expect "it names the launcher's version and SHA-256" "$version $(sha256sum <"$launcher" | cut -d' ' -f1)" \
    "$(field Tessalune 2) $(field Tessalune 3)"
for shown in "libpng:libpng version " "zlib: inflate " "JUCE:JUCE v"; do
    name=${shown%%:*} text=${shown#*:}
    expect "the launcher holds the $name version the bill names" yes \
        "$(yes_if grep -qaF "$text$(upstream "$(field "$name" 2)")" "$launcher")"
done

# The libraries built from Debian's source: the version the set-up downloaded,
# and as many patches applied as Debian's series lists.
for library in libpng:libpng libjpeg-turbo:libjpeg-turbo; do
    name=${library%%:*} folder="$deps/${library#*:}"
    expect "$name: the Debian version built" "$(sed -n 's/^Version: //p' "$folder"/*.dsc)" "$(field "$name" 2)"
    series=$(tar -xOf "$folder"/*.debian.tar.* debian/patches/series 2>/dev/null | grep -cv '^\s*\(#\|$\)')
    expect "$name: all of Debian's patches applied" "Debian's $series patches applied" \
        "$(field "$name" 4 | grep -o "Debian's [0-9]* patches applied")"
done

[ "$failures" -eq 0 ]
