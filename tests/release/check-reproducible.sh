#!/usr/bin/env bash
# Builds the launcher and the release a second time, from the same sources in
# a fresh build folder at another path, and checks that the launcher, the MSI,
# the ZIP and SHA256SUMS are byte-identical to the first build's.
# Usage: check-reproducible.sh SOURCE_DIR FIRST_BUILD_DIR
set -uo pipefail

source_dir=$1
first=$2
source "$(dirname "$0")/../support/expect.sh"
second=$(mktemp -d "$source_dir/build/reproducible.XXXXXX")
trap 'rm -rf "$second"' EXIT

cmake -S "$source_dir" -B "$second" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$second" --target release >/dev/null || exit 1
# Configured again, as a second "cmake --preset" does, it has nothing to rebuild.
cmake "$second" >/dev/null
expect "a second configure leaves nothing to rebuild" "ninja: no work to do." "$(ninja -C "$second" -n release | tail -n 1)"

for file in bin/Tessalune.exe release/SHA256SUMS $(cd "$first" && ls release/*.msi release/*-win32.zip); do
    expect "$file: the same SHA-256" "$(sha256sum <"$first/$file")" "$(sha256sum <"$second/$file")"
done

[ "$failures" -eq 0 ]
