#!/usr/bin/env bash
# The scripts a newcomer types first answer --help and -h with their usage and
# status 0, doing nothing else, and refuse an argument they do not know with
# their usage on standard error and status 2; make-release.sh says what is
# wrong with its options before it builds anything. A usage is whole: it
# names the script as typed from the clone's top, holds none of the script's
# directives for shellcheck, and each of its entries and the whole end with
# a sentence.
# Every pointer of the project's files to a section of a document (a path,
# a comma and the heading in quotes) names a document of the project by its
# path, and that document has the heading.
# Usage: check-entry-scripts.sh SOURCE_DIR
set -uo pipefail

repo=$1
# shellcheck source=../support/expect.sh
source "$repo/tests/support/expect.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# What is not whole in a usage: an entry is a line indented by two spaces,
# and what comes before one ends a sentence or opens a list.
usage_faults() {
    awk -v script="$1" 'NR == 1 && index($0, "Usage: " script) != 1 { print "it does not begin \"Usage: " script "\"" }
        /shellcheck|disable=SC[0-9]/ { print "it holds a shellcheck directive: " $0 }
        NR > 1 && /^  [^ ]/ && previous !~ /[.:;]$/ { print "a sentence is cut off before an entry: " previous }
        { previous = $0 }
        END { if (previous !~ /\.$/) print "its last sentence is cut off: " previous }'
}

for script in tools/setup.sh tools/run-tests.sh tools/demo.sh benchmark/run.sh installer/make-release.sh \
    installer/release.sh tools/with-wine-session.sh; do
    status=0
    usage=$("$repo/$script" --help 2>&1) || status=$?
    expect "$script --help: its usage, status 0" "0" "$status"
    expect "$script --help: a usage that is whole" "" "$(usage_faults "$script" <<<"$usage")"
    status=0
    output=$("$repo/$script" -h 2>&1) || status=$?
    expect "$script -h: the same, status 0" "yes 0" "$(yes_if test "$output" = "$usage") $status"
    status=0
    output=$("$repo/$script" --no-such-option 2>&1 >/dev/null) || status=$?
    expect "$script --no-such-option: refused with its usage, status 2" "yes 2" \
        "$(yes_if grep -q '^Usage:' <<<"$output") $status"
done

# Pointers wrap across lines, in comments and in strings with escaped quotes.
expect "every pointer to a section names a document of the project that has it" "" "$(python3 - "$repo" <<'SCAN'
import re
import subprocess
import sys
from pathlib import Path

repo = Path(sys.argv[1])
# A document named by its path (with its folder, or a .md at the top), or by a bare name such as README.
POINTER = re.compile(r'(?<![\w./-])((?:[\w.-]+/)+[\w.-]+|[\w.-]+\.md|[A-Z]{3,}), "([^"]+)"\)')


def as_one_line(text: str) -> str:
    text = re.sub(r'"[ \t]*\n[ \t]*"', "", text)
    return " ".join(re.sub(r"^\s*(#+|//+|\*|<!--)?\s*", "", line) for line in text.splitlines()).replace('\\"', '"')


def headings(document: Path) -> set[str]:
    """A markdown document's section headings, outside its code blocks."""
    found: set[str] = set()
    fenced = False
    for line in document.read_text(encoding="utf-8").splitlines():
        fenced ^= line.lstrip().startswith("```")
        heading = None if fenced else re.match(r"#+ (.+)", line)
        if heading:
            found.add(heading.group(1).strip())
    return found


tracked = [name for name in subprocess.run(["git", "-C", str(repo), "ls-files", "-z"], capture_output=True,
                                           text=True, check=True).stdout.split("\0") if name]
pointers = 0
for name in tracked:
    try:
        text = (repo / name).read_text(encoding="utf-8")
    except (UnicodeDecodeError, OSError):
        continue
    for document, section in POINTER.findall(as_one_line(text)):
        pointers += 1
        if document not in tracked:
            print(f'{name}: ({document}, "{section}") names no file of the project')
        elif section not in headings(repo / document):
            print(f'{name}: ({document}, "{section}"): {document} has no such heading')
if not pointers:
    print("no pointer found")
SCAN
)"

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
