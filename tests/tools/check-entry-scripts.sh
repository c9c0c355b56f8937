#!/usr/bin/env bash
# The scripts a newcomer types first answer --help and -h with their usage and
# status 0, doing nothing else, and refuse an argument they do not know with
# their usage on standard error and status 2; make-release.sh says what is
# wrong with its options before it builds anything.
# Usage: check-entry-scripts.sh SOURCE_DIR
set -uo pipefail

repo=$1
# shellcheck source=../support/expect.sh
source "$repo/tests/support/expect.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for script in tools/setup.sh tools/run-tests.sh tools/demo.sh benchmark/run.sh installer/make-release.sh \
    tools/with-wine-session.sh; do
    for help in --help -h; do
        status=0
        output=$("$repo/$script" "$help" 2>&1) || status=$?
        expect "$script $help: its usage, status 0" "Usage: 0" "$(head -n 1 <<<"$output" | grep -o '^Usage:') $status"
    done
    status=0
    output=$("$repo/$script" --no-such-option 2>&1 >/dev/null) || status=$?
    expect "$script --no-such-option: refused with its usage, status 2" "yes 2" \
        "$(yes_if grep -q '^Usage:' <<<"$output") $status"
done

# Each line: what is wrong, then the options; the product's launcher is any
# file that starts as a Windows program does.
printf 'MZ' >"$work/Launcher.exe"
: >"$work/Launcher.components"
: >"$work/a-file"
for key in name productname executable version upgrade_code manufacturer releases_address host host_folder error_title \
    release kit; do
    echo "$key=Product"
done >"$work/product"
printf 'launcher=%s\ncomponents=%s\n' "$work/Launcher.exe" "$work/Launcher.components" >>"$work/product"
sed "s|^launcher=.*|launcher=$work/a-file|" "$work/product" >"$work/not-a-program"
while IFS='|' read -r wrong options; do
    status=0
    # shellcheck disable=SC2086
    output=$(cd "$work" && "$repo/installer/make-release.sh" $options 2>&1) || status=$?
    expect "make-release.sh refuses $wrong, naming it, and makes nothing" "yes no" \
        "$([ "$status" -ne 0 ] && grep -qF -- "$wrong" <<<"$output" && echo yes || echo "no: $status $output") \
$(yes_if test -e "$work/release")"
done <<'CASES'
--out a-file|--product product --out a-file
a-file, which not-a-program names, is no Windows program|--product not-a-program --out release
no product description at missing|--product missing --out release
--sign must come last|--product product --sign -certs c --out release
missing --kit-out|--product product --out release --kit a-file
--sign without a timestamp|--product product --out release --sign -certs c -key k
a-file is no minisign secret key|--product product --out release --sign-sums a-file
CASES

[ "$failures" -eq 0 ]
