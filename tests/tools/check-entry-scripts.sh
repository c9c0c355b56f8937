#!/usr/bin/env bash
# The scripts a newcomer types first answer --help and -h with their usage and
# status 0, doing nothing else, and refuse an argument they do not know with
# their usage on standard error and status 2; make-release.sh says what is
# wrong with its options before it builds anything.
# Usage: check-entry-scripts.sh SOURCE_DIR
set -uo pipefail

repo=$1
source "$repo/tests/support/expect.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for script in tools/setup.sh tools/run-tests.sh tools/demo.sh benchmark/run.sh installer/make-release.sh; do
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

# Each line: what is wrong, then the options; the launcher is any file that
# starts as a Windows program does.
printf 'MZ' >"$work/Tessalune.exe"
: >"$work/Tessalune.components"
: >"$work/a-file"
while IFS='|' read -r wrong options; do
    status=0
    # shellcheck disable=SC2086
    output=$(cd "$work" && "$repo/installer/make-release.sh" $options 2>&1) || status=$?
    expect "make-release.sh refuses $wrong, naming it, and makes nothing" "yes no" \
        "$([ "$status" -ne 0 ] && grep -qF -- "$wrong" <<<"$output" && echo yes || echo "no: $status $output") \
$(yes_if test -e "$work/release")"
done <<'CASES'
--out a-file|--launcher Tessalune.exe --out a-file
a-file is no Windows program|--launcher a-file --out release
--sign must come last|--launcher Tessalune.exe --sign -certs c --out release
--version takes three numbers|--launcher Tessalune.exe --out release --version 1.0
--version takes three numbers|--launcher Tessalune.exe --out release --version v1.0.0
--sign without a timestamp|--launcher Tessalune.exe --out release --sign -certs c -key k
CASES

[ "$failures" -eq 0 ]
