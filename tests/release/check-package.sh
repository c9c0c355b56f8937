#!/usr/bin/env bash
# Checks the release folder the build leaves: the MSI, the ZIP and the Windows
# test kit, nothing else but SHA256SUMS, which is right for the MSI and the ZIP;
# in the ZIP exactly the launcher as built, its SHA-256 and the installation text.
# Usage: check-package.sh RELEASE_FOLDER VERSION Tessalune.exe
set -uo pipefail

release=$1
version=$2
launcher=$3
source "$(dirname "$0")/../support/expect.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

zip="Tessalune-$version-win32.zip"
expect "contents of the release folder" \
    "SHA256SUMS Tessalune-$version-win32.zip Tessalune-$version-windows-tests.zip Tessalune-$version.msi" \
    "$(ls "$release" | sort | paste -sd ' ')"
expect "SHA256SUMS matches both" "yes" "$(cd "$release" && yes_if sha256sum --quiet -c SHA256SUMS)"

(cd "$work" && cmake -E tar xf "$release/$zip")
expect "contents of $zip" "INSTALL.txt Tessalune.exe Tessalune.exe.sha256" "$(cd "$work" && find . -type f | sed 's|^\./||' | sort | paste -sd ' ')"
expect "the launcher is the one built" "yes" "$(yes_if cmp -s "$launcher" "$work/Tessalune.exe")"
expect "the launcher's SHA-256 matches" "yes" "$(cd "$work" && yes_if sha256sum --quiet -c Tessalune.exe.sha256)"
# Older Notepad shows a text with bare LF line ends as one line.
expect "INSTALL.txt: lines not ending in CR LF" 0 "$(grep -cv $'\r$' "$work/INSTALL.txt")"

[ "$failures" -eq 0 ]
