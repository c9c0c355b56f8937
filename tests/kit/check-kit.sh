#!/usr/bin/env bash
# The Windows test kit run as a release engineer runs it: unpacked into a fresh
# folder and started with run-tests.cmd from Wine's own cmd.exe, not through
# CTest, with a host already installed. Its closing line must count every case
# that CTest counts for the same programs, less those it leaves out;
# it must exit 0, and every file of the host's folder, the host, its report and
# a file in a folder of its own, must be back byte for byte and time for time.
# In a prefix that maps no \\localhost\c$, as a user's may not, the case
# started from that share skips, saying why.
# Usage: check-kit.sh PRODUCT BUILD_DIR   (the product's description, whose kit is run)
set -uo pipefail

build=$2
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../support/expect.sh
source "$here/../support/expect.sh"
# shellcheck source=../../tools/wine-product.sh
source "$here/../../tools/wine-product.sh"
ensure_wine_prefix
use_product "$1"
kit=$product_kit

folder=$(mktemp -d "$WINEPREFIX/drive_c/kit.XXXXXX")
trap 'rm -rf "$folder" "$host_folder"' EXIT
(cd "$folder" && cmake -E tar xf "$kit")

mkdir -p "$host_folder/data"
printf 'A host installed before the kit ran.\r\n' >"$host_folder/$product_host"
printf 'What the host received before the kit ran.\r\n' >"$host_folder/Sonvik-received.txt"
printf 'A setting of the host.\r\n' >"$host_folder/data/settings.ini"
touch -d '2020-01-02 03:04:05' "$host_folder/$product_host" "$host_folder"/Sonvik-received.txt "$host_folder"/data/settings.ini
host_state() { (cd "$host_folder" && find . -type f -printf '%p %s %T@\n' -exec sha256sum {} \; | sort); }
host_before=$(host_state)

status=0
output=$(cd "$folder" && wine cmd /c run-tests.cmd 2>/dev/null | tr -d '\r') || status=$?
echo "$output"

# Every case of the kit's programs, but the checks of the build tree (CTest's
# label build-tree), which the kit leaves out.
ctest_cases() {
    ctest --test-dir "$build" -N -L '^(unit|differential|e2e)$' -LE '^build-tree$' | sed -n 's/^ *Test *#[0-9]*: //p'
}
expected=$(ctest_cases | wc -l)

# A case that cannot see here what it checks is skipped, and counted so.
skipped=$(sed -n 's/^\([0-9]*\) passed, [0-9]* failed, \([0-9]*\) skipped$/\2/p' <<<"$(tail -n 1 <<<"$output")")
expect "closing line" "$((expected - ${skipped:-0})) passed, 0 failed, ${skipped:-0} skipped" "$(tail -n 1 <<<"$output")"
expect "exit status" 0 "$status"
expect "the host's folder as it was before the run, every file" "$host_before" "$(host_state 2>&1)"
for left in planted-library Orvanel-junction-target; do
    expect "the $left folder is gone" no "$(yes_if test -e "$WINEPREFIX/drive_c/users/Public/$left")"
done
expect "results kept for sending back" "differential_tests.txt e2e_tests.txt sample_host_tests.txt unit_tests.txt" \
    "$(find "$folder/results" -mindepth 1 -printf '%f\n' 2>/dev/null | LC_ALL=C sort | paste -sd ' ')"

case=Launcher.WithoutTheSharedFolderTheHostIsLookedForOnTheWindowsDriveWhereverTheLauncherStarts
expect "in the tests' own prefix, which maps \\\\localhost\\c\$, $case runs" yes \
    "$(yes_if grep -qF "[       OK ] $case" "$folder/results/e2e_tests.txt")"
# shellcheck disable=SC2154  # tools/wine-env.sh names the share's link
rm -f "$share_of_drive_c"
unmapped=$(cd "$folder" && wine e2e_tests.exe --gtest_filter="$case" 2>/dev/null | tr -d '\r')
ensure_wine_prefix
expect "in a prefix that maps no share, $case skips, saying so" "yes yes" \
    "$(yes_if grep -qF '[  SKIPPED ] 1 test' <<<"$unmapped") $(yes_if grep -qF 'maps no administrative share' <<<"$unmapped")"

[ "$failures" -eq 0 ]
