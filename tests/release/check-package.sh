#!/usr/bin/env bash
# Makes the release ZIP with CPack and checks it: exactly the launcher, its
# SHA-256 and the installation text, the launcher identical to the one built,
# and the SHA-256 right for it.
# Usage: check-package.sh BUILD_DIR
set -euo pipefail

build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null
zip=$(ls "$work"/package/Tessalune-*-win32.zip)
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")

failures=0
expect() {
    if [ "$2" != "$3" ]; then
        printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
        failures=$((failures + 1))
    else
        printf 'ok   %s\n' "$1"
    fi
}

expect "contents of $(basename "$zip")" "INSTALL.txt Tessalune.exe Tessalune.exe.sha256" \
    "$(cd "$work/unpacked" && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ' | sed 's/ $//')"
expect "the launcher is the one built" "yes" \
    "$(cmp -s "$build/bin/Tessalune.exe" "$work/unpacked/Tessalune.exe" && echo yes || echo no)"
expect "the SHA-256 matches" "yes" \
    "$(cd "$work/unpacked" && sha256sum --quiet -c Tessalune.exe.sha256 >/dev/null 2>&1 && echo yes || echo no)"

[ "$failures" -eq 0 ]
