#!/usr/bin/env bash
# Builds the launcher a second time, from the same sources in a fresh build
# folder at another path, and checks that the two files are byte-identical.
# Usage: check-reproducible.sh SOURCE_DIR BUILT_Tessalune.exe
set -euo pipefail

source_dir=$1
built=$2
second=$(mktemp -d "$source_dir/build/reproducible.XXXXXX")
trap 'rm -rf "$second"' EXIT

cmake -S "$source_dir" -B "$second" -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$second" --target Tessalune >/dev/null

first_hash=$(sha256sum <"$built" | cut -d' ' -f1)
second_hash=$(sha256sum <"$second/bin/Tessalune.exe" | cut -d' ' -f1)
printf 'first build:  %s\nsecond build: %s\n' "$first_hash" "$second_hash"

if [ "$first_hash" != "$second_hash" ]; then
    cmp -l "$built" "$second/bin/Tessalune.exe" | head -n 20
    exit 1
fi
