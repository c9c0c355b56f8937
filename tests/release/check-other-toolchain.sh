#!/usr/bin/env bash
# A release made where toolchain.lock names another version of one package
# than this machine has, in a clone of this commit whose lock says so: an
# ordinary release is made, says which package in one line, and its source
# archive's release-inputs marks it as made with another toolchain; a signed
# one stops before anything is made, naming the package; with
# --allow-other-toolchain the signed one is made.
# Usage: check-other-toolchain.sh PRODUCT SOURCE_DIR
set -uo pipefail

product=$1
source_dir=$2
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../support/expect.sh
source "$here/../support/expect.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
value_of() { "$source_dir/installer/release.sh" describe "$product" "$1"; }
name=$(value_of name) version=$(value_of version)

# Committed, so that the releases are no test releases, which promise no bytes.
git clone --quiet "$source_dir" "$work/clone" || exit 1
sed -i 's/^dpkg-dev .*/dpkg-dev 0.0-other/' "$work/clone/toolchain.lock"
git -C "$work/clone" -c user.name=check -c user.email=check@example.invalid commit --quiet -am "Another dpkg-dev" \
    || exit 1
named="dpkg-dev $(dpkg-query -W -f='${Version}' dpkg-dev) (locked: 0.0-other)"
minisign -G -W -p "$work/sums.pub" -s "$work/sums.key" >/dev/null || exit 1
# release OUT OPTION...: the status, then the lines naming the package that differs.
release() {
    local out=$1 status=0 said; shift
    said=$("$work/clone/installer/make-release.sh" --product "$product" --deps "$source_dir/build/deps" \
        --out "$work/$out" "$@" 2>&1) || status=$?
    echo "$status $(grep -cF "$named" <<<"$said")"
}

expect "an ordinary release is made, saying in one line which package differs" "0 1" "$(release ordinary)"
inputs=$(tar -xJOf "$work/ordinary/$name/$name-$version-source.tar.xz" "$name-$version-source/release-inputs")
expect "...and its release-inputs marks it, naming what the lock says" "toolchain-as-locked no|toolchain-locked dpkg-dev 0.0-other" \
    "$(grep -x 'toolchain-as-locked .*\|toolchain-locked dpkg-dev .*' <<<"$inputs" | paste -sd '|')"
expect "a signed release stops, naming the package, and nothing is made" "1 1 no" \
    "$(release signed --sign-sums "$work/sums.key") $(yes_if test -e "$work/signed")"
expect "with --allow-other-toolchain the signed release is made" "0 1 yes" \
    "$(release allowed --sign-sums "$work/sums.key" --allow-other-toolchain) $(
        yes_if test -f "$work/allowed/$name/$name-$version.SHA256SUMS.minisig")"

[ "$failures" -eq 0 ]
