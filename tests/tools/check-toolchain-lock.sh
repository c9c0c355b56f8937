#!/usr/bin/env bash
# The configure's toolchain check (cmake/toolchain-lock.cmake), as a script on
# a scratch folder holding a copy of the lock at this machine's versions but
# those of a tool and of a library it writes through: in a clone it says so
# in one line, naming those packages alone, and goes on; in an unpacked
# source archive recording the
# same it stops, unless told to accept other versions. A library named without
# its architecture, which wine32 installs for i386 too, stops it, named.
# Usage: check-toolchain-lock.sh SOURCE_DIR
set -uo pipefail

repo=$1
# shellcheck source=../support/expect.sh
source "$repo/tests/support/expect.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

installed() { dpkg-query -W -f='${Version}' "$1"; }
# Given another version, in the lock's order: the ZIP's archiver and its compressor.
other=(cmake zlib1g:amd64)
# An unclosed bracket in a comment, which would join the lines after it in a CMake list.
echo "# the lock at this machine's versions [but cmake's" >"$work/toolchain.lock"
while read -r package _; do
    if printf '%s\n' "${other[@]}" | grep -qxF -- "$package"; then
        echo "$package 0.0-other"
    else
        echo "$package $(installed "$package")"
    fi
done < <(sed 's/#.*//; /^[[:space:]]*$/d' "$repo/toolchain.lock") >>"$work/toolchain.lock"

# The check's status, the number of lines naming a package, then each package named.
check() {
    local output status=0
    output=$(cmake -DSOURCE_DIR="$work" "$@" -P "$repo/cmake/toolchain-lock.cmake" 2>&1) || status=$?
    echo "$status $(grep -c '0\.0-other' <<<"$output") $(
        grep -o '[^ ,]* [^ ,]* ([a-z ]*: 0\.0-other)' <<<"$output" | paste -sd '|')"
}
# What the check says of each package given another version: "PACKAGE INSTALLED (HELD_BY: 0.0-other)".
named() {
    local package
    for package in "${other[@]}"; do echo "$package $(installed "$package") ($1: 0.0-other)"; done | paste -sd '|'
}

expect "in a clone, one line naming each package, installed and locked" "0 1 $(named locked)" "$(check)"
sed -n 's/^[^#]/toolchain &/p' "$work/toolchain.lock" >"$work/release-inputs"
archive=$(named "the archive was built with")
expect "in an unpacked source archive, the configure stops, naming each package" "1 2 $archive" "$(check)"
expect "...unless told to accept other versions" "0 2 $archive" "$(check -DLAUNCHER_ACCEPT_OTHER_TOOLCHAIN=ON)"

echo "toolchain libc6 $(installed libc6:amd64)" >"$work/release-inputs"
status=0
message=$(cmake -DSOURCE_DIR="$work" -P "$repo/cmake/toolchain-lock.cmake" 2>&1) || status=$?
expect "a library named without its architecture stops the configure, naming it" "1 yes" \
    "$status $(yes_if grep -q 'libc6 is known to dpkg for several architectures' <<<"$message")"

[ "$failures" -eq 0 ]
