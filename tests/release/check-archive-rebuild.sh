#!/usr/bin/env bash
# Builds the launchers, the releases and the test kits a second time, in a
# second clone of the sources at another path (with the working tree's
# changes, and the set-up's libraries shared), and checks that every
# product's launcher, every file of its release and its test kit are
# byte-identical to the first build's.
# Usage: check-reproducible.sh SOURCE_DIR FIRST_BUILD_DIR
set -uo pipefail

source_dir=$1
first=$2
# shellcheck source=../support/expect.sh
source "$(dirname "$0")/../support/expect.sh"
scratch=$(mktemp -d "$source_dir/build/reproducible.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
clone="$scratch/clone"
second="$clone/build/windows-x86"

git clone --quiet --shared "$source_dir" "$clone" || exit 1
git -C "$clone" checkout --quiet --detach "$(git -C "$source_dir" rev-parse HEAD)" || exit 1
git -C "$source_dir" diff --binary HEAD | git -C "$clone" apply --allow-empty || exit 1
(cd "$source_dir" && git ls-files --others --exclude-standard -z | xargs -0 -r cp --parents -t "$clone") || exit 1
mkdir -p "$clone/build"
ln -s "$source_dir/build/deps" "$clone/build/deps"

# Built as the README builds it: through the cross preset, in the clone.
(cd "$clone" && cmake --preset windows-x86 >/dev/null && cmake --build --preset windows-x86 --target release >/dev/null) \
    || exit 1
# Configured again, as a second "cmake --preset" does, it has nothing to rebuild.
(cd "$clone" && cmake --preset windows-x86 >/dev/null)
expect "a second configure leaves nothing to rebuild" "ninja: no work to do." "$(ninja -C "$second" -n release | tail -n 1)"

# Every product's launcher, release and test kit: those of the product table
# and of the tests' own.
made_files() {
    (cd "$1" && find release test-products -type f && ls ./*-windows-tests.zip \
        && sed -n "s|^launcher=$1/||p" products/*/*.product) | sed 's|^\./||' | LC_ALL=C sort
}
expect "the same files made" "$(made_files "$first")" "$(made_files "$second")"
for file in $(made_files "$first"); do
    expect "$file: the same SHA-256" "$(sha256sum <"$first/$file")" "$(sha256sum <"$second/$file" 2>&1)"
done

[ "$failures" -eq 0 ]
