#!/usr/bin/env bash
# The scripts a newcomer types first answer --help and -h with their usage and
# status 0, doing nothing else, and refuse an argument they do not know with
# their usage on standard error and status 2; make-release.sh says what is
# wrong with its options before it builds anything.
# Each usage is whole, and each pointer to a section finds it (below).
# Usage: check-entry-scripts.sh SOURCE_DIR
set -uo pipefail

repo=$1
# shellcheck source=../support/expect.sh
source "$repo/tests/support/expect.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# What is not whole in a usage: a first line that does not name the script, a
# directive for shellcheck, a sentence cut off before an entry (a line indented by two spaces) or at the end.
usage_faults() {
    awk -v script="$1" 'NR == 1 && index($0, "Usage: " script) != 1 { print "not \"Usage: " script "\"" }
        /shellcheck|disable=SC[0-9]/ { print "a directive: " $0 } NR > 1 && /^  [^ ]/ && previous !~ /[.:;]$/ {
        print "cut off: " previous } { previous = $0 } END { if (previous !~ /\.$/) print "cut off: " previous }'
}
for script in tools/setup.sh tools/run-tests.sh tools/demo.sh benchmark/run.sh installer/make-release.sh \
    installer/release.sh tools/with-wine-session.sh; do
    for help in --help -h; do
        status=0
        output=$("$repo/$script" "$help" 2>&1) || status=$?
        expect "$script $help: its whole usage, status 0" 0 "$(usage_faults "$script" <<<"$output")$status"
    done
    status=0
    output=$("$repo/$script" --no-such-option 2>&1 >/dev/null) || status=$?
    expect "$script --no-such-option: refused with its usage, status 2" "yes 2" \
        "$(yes_if grep -q '^Usage:' <<<"$output") $status"
done

has_section() {
    git -C "$repo" ls-files --error-unmatch -- "$1" &>/dev/null && awk -v section="$2" '/^ *```/ { fenced = !fenced }
        !fenced && sub(/^#+ /, "") && $0 == section { found = 1 } END { exit !found }' "$repo/$1"
}
# Pointers wrap across lines, in comments and in strings with escaped quotes; finding none fails.
# A bare capitalised name (README) is a pointer only after "see" or "in", so a
# constant passed with a quoted word, as in read_text(CHANGELOG, "the changelog"), is not.
# shellcheck disable=SC2016  # perl's variables
while IFS=$'\t' read -r file document section; do
    expect "$file's pointer to $document, \"$section\"" yes "$(yes_if has_section "$document" "$section")"
done < <(cd "$repo" && git ls-files -z | xargs -0 perl -0777 -ne 's/"[ \t]*\n[ \t]*"//g; s/\\"/"/g;
    s/^[ \t]*(?:#+|\/\/+|\*|<!--)?[ \t]*//mg; s/\n/ /g; print "$ARGV\t$1\t$2\n"
    while /(?<![\w.\/-])((?:[\w.-]+\/)+[\w.-]+|[\w.-]+\.md|(?:(?<=see )|(?<=in ))[A-Z]{3,}), "([^"]+)"\)/g' | grep . || echo none)

# Each line: what is wrong, then the options; the product's launcher is any
# file that starts as a Windows program does.
printf 'MZ' >"$work/Launcher.exe"
: >"$work/Launcher.components"
: >"$work/a-file"
for key in name productname executable version upgrade_code manufacturer releases_address support_address \
    home_address host host_folder error_title release kit; do
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
