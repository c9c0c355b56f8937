#!/usr/bin/env bash
# The configure's toolchain check (cmake/toolchain-lock.cmake), as a script on
# a scratch folder holding a copy of the lock at this machine's versions but
# one: in a clone it warns, naming that package alone; in an unpacked source
# archive recording the same it stops, unless told to accept other versions.
# Usage: check-toolchain-lock.sh SOURCE_DIR
set -uo pipefail

repo=$1
# shellcheck source=../support/expect.sh
source "$repo/tests/support/expect.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

installed() { dpkg-query -W -f='${Version}' "$1"; }
# An unclosed bracket in a comment, which would join the lines after it in a CMake list.
echo "# the lock at this machine's versions [but cmake's" >"$work/toolchain.lock"
while read -r package _; do
    if [ "$package" = cmake ]; then echo "cmake 0.0-other"; else echo "$package $(installed "$package")"; fi
done < <(sed 's/#.*//; /^[[:space:]]*$/d' "$repo/toolchain.lock") >>"$work/toolchain.lock"

# The check's status, then each package it names, on one line.
check() {
    local output status=0
    output=$(cmake -DSOURCE_DIR="$work" "$@" -P "$repo/cmake/toolchain-lock.cmake" 2>&1) || status=$?
    echo "$status $(sed -n 's/^ *\([^ ]*: \(locked\|the archive was built with\) .*\)/\1/p' <<<"$output" | paste -sd '|')"
}

expect "in a clone, a warning naming the package, locked and installed" \
    "0 cmake: locked 0.0-other, installed $(installed cmake)" "$(check)"
sed -n 's/^[^#]/toolchain &/p' "$work/toolchain.lock" >"$work/release-inputs"
archive="cmake: the archive was built with 0.0-other, this machine has $(installed cmake)"
expect "in an unpacked source archive, the configure stops, naming the package" "1 $archive" "$(check)"
expect "...unless told to accept other versions" "0 $archive" "$(check -DLAUNCHER_ACCEPT_OTHER_TOOLCHAIN=ON)"

[ "$failures" -eq 0 ]
