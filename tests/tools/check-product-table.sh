#!/usr/bin/env bash
# A product table with a bad entry stops the configure with a message naming
# the entry and what is wrong; a good one passes. Each table is read by the
# build's own vocabulary, in a CMake script, after the product table that
# ships, as the tests' own table is (or, with ALONE, on its own), into a
# scratch build folder, which then keeps only the products read.
# Usage: check-product-table.sh SOURCE_DIR
set -uo pipefail

repo=$1
# shellcheck source=../support/expect.sh
source "$repo/tests/support/expect.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: >"$work/icon.png"
: >"$work/icon file.png"
cat >"$work/read-table.cmake" <<CMAKE
cmake_minimum_required(VERSION 3.25)
set(PROJECT_SOURCE_DIR "$repo")
set(PROJECT_BINARY_DIR "$work/build")
include("$repo/cmake/products.cmake")
read_family("$repo/products/family.cmake")
set(tables "\${TABLE}" tests)
if(NOT ALONE)
    list(PREPEND tables "$repo/products/table.cmake" shipped)
endif()
read_product_tables(products \${tables})
keep_only_products(\${products})
CMAKE
# The documentation's example of a new product, and its icon.
awk '/^## Adding a product/ { section = 1 } section && /^```cmake$/ { block = 1; next }
    block && /^```$/ { exit } block { print }' "$repo/docs/maintaining.md" >"$work/example.cmake"
: >"$work/$(sed -n 's/^ *ICON \([^ ]*\).*/\1/p' "$work/example.cmake")"

entry() { echo "launcher_product($1 PRODUCTNAME ${2:-$1} VERSION ${3:-1.0.0} ICON ${4:-icon.png} UPGRADE_CODE ${5:-$(cat /proc/sys/kernel/random/uuid)} ${6:-})"; }
good="$(entry Alpha alpha 1.0.0 icon.png 0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9)"

# Each case: what the message must say, then the table's entries after a good one.
while IFS='|' read -r says entries; do
    says=${says//\$work/$work} says=${says//\$repo/$repo}
    printf '%s\n%s\n' "$good" "$(eval "$entries")" >"$work/table.cmake"
    status=0
    output=$(cmake -DTABLE="$work/table.cmake" -P "$work/read-table.cmake" 2>&1) || status=$?
    expect "refused: $says" "yes" \
        "$([ "$status" -ne 0 ] && grep -qF -- "$says" <<<"$(tr -s ' \n' ' ' <<<"$output")" && echo yes || echo "no: $output")"
done <<'CASES'
entry Alpha: its name 'Alpha' is already claimed by entry Alpha of $work/table.cmake|entry Alpha beta
entry Beta: its PRODUCTNAME 'ALPHA' is already claimed by entry Alpha|entry Beta ALPHA
entry Beta: its EXECUTABLE 'Alpha' is already claimed by entry Alpha|entry Beta beta 1.0.0 icon.png "$(cat /proc/sys/kernel/random/uuid)" "EXECUTABLE Alpha"
entry Beta: its PRODUCTNAME 'tessalune' is already claimed by entry Tessalune of $repo/products/table.cmake|entry Beta tessalune
entry Beta: 'quill mere' is two words not quoted: quote them (PRODUCTNAME "quill mere")|entry Beta "quill mere"
entry Bram: 'Bram ble' is two words not quoted, and a name is one word|entry "Bram ble" bramble
entry Beta: unknown keyword ICONS: did you mean ICON?|echo "launcher_product(Beta PRODUCTNAME beta VERSION 1.0.0 ICONS icon.png)"
entry Beta: ICON has no value|echo "launcher_product(Beta PRODUCTNAME beta ICON UPGRADE_CODE $(cat /proc/sys/kernel/random/uuid))"
entry Beta: 'productname' is no keyword: write it PRODUCTNAME|echo "launcher_product(Beta productname beta)"
entry CON: name 'CON' is a name Windows keeps for a device|entry CON con1
entry Beta: PRODUCTNAME 'lpt9' is a name Windows keeps for a device|entry Beta lpt9
entry Beta: EXECUTABLE 'aux' is a name Windows keeps for a device|entry Beta beta 1.0.0 icon.png "$(cat /proc/sys/kernel/random/uuid)" "EXECUTABLE aux"
entry Beta: its UPGRADE_CODE '0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9' is already claimed by entry Alpha of $work/table.cmake|entry Beta beta 1.0.0 icon.png 0a1b2c3d-4e5f-4061-8293-a4b5c6d7e8f9
is docs/maintaining.md's example, shared by every entry copied from it|cat "$work/example.cmake"
entry Beta: PRODUCTNAME 'a=b' may hold only|entry Beta a=b
entry Beta: no icon at|entry Beta beta 1.0.0 missing.png
entry Beta: VERSION 256.0.0 is more than an MSI can hold|entry Beta beta 256.0.0
entry Beta: VERSION '1.0' is not X.Y.Z|entry Beta beta 1.0
entry Beta: EXECUTABLE Sonvik is the host's own name|entry Beta beta 1.0.0 icon.png "$(cat /proc/sys/kernel/random/uuid)" "EXECUTABLE Sonvik"
entry Beta: no EXTRA_FILE at $work/missing.txt|entry Beta beta 1.0.0 icon.png "$(cat /proc/sys/kernel/random/uuid)" "EXTRA_FILE missing.txt"
entry Beta: EXTRA_FILE 'icon file.png' may hold only|entry Beta beta 1.0.0 icon.png "$(cat /proc/sys/kernel/random/uuid)" "EXTRA_FILE \"icon file.png\""
CASES

printf '%s\n%s\n' "$good" "$(entry Beta beta)" >"$work/table.cmake"
expect "a table of two good entries is read" 0 "$(cmake -DTABLE="$work/table.cmake" -P "$work/read-table.cmake" >/dev/null 2>&1; echo $?)"

# The documentation's example of a new product, given an upgrade code of its
# own as the documentation says, is read on its own: a developer who added
# just that product to the table still passes.
sed "s/UPGRADE_CODE [^ )]*/UPGRADE_CODE $(python3 -c 'import uuid; print(str(uuid.uuid4()).upper())')/" \
    "$work/example.cmake" >"$work/table.cmake"
expect "the documentation's example of a product, with an upgrade code of its own, is read" 0 \
    "$(cmake -DALONE=1 -DTABLE="$work/table.cmake" -P "$work/read-table.cmake" >/dev/null 2>&1; echo $?)"

# What a configure and a release made of products: a product taken out of
# the tables leaves nothing in the build, and --product offers only theirs.
# A launcher whose file name a product of the tables has now, and what lies
# outside the build, stay.
build="$work/build"
made() { # NAME LAUNCHER RELEASE_FOLDER
    mkdir -p "$build/products/$1" "$build/bin" "$build/CMakeFiles/${2%.exe}.dir" "$3"
    touch "$build/bin/$2" "$3/$1-1.0.0.msi" "$build/$1-1.0.0-windows-tests.zip"
    printf 'launcher=%s\nrelease=%s\nkit=%s\n' "$build/bin/$2" "$3" "$build/$1-1.0.0-windows-tests.zip" \
        >"$build/products/$1/$1.product"
}
made Alpha Alpha.exe "$build/release/Alpha"
made Bramble Bramble.exe "$build/release/Bramble"
made Renamed Alpha.exe "$build/../outside"
printf '%s\n%s\n' "$good" "$(entry Beta beta)" >"$work/table.cmake"
cmake -DALONE=1 -DTABLE="$work/table.cmake" -P "$work/read-table.cmake" >/dev/null 2>&1
expect "a product taken out of the tables leaves nothing in the build" "./Alpha-1.0.0-windows-tests.zip ./CMakeFiles \
./CMakeFiles/Alpha.dir ./bin ./bin/Alpha.exe ./products ./products/Alpha ./products/Alpha/Alpha.product \
./products/list ./release ./release/Alpha ./release/Alpha/Alpha-1.0.0.msi" \
    "$(cd "$build" && find . -mindepth 1 | LC_ALL=C sort | paste -sd ' ')"
expect "what lies outside the build stays" yes "$(yes_if test -f "$work/outside/Renamed-1.0.0.msi")"
expect "--product offers only the products of the tables" "no product Bramble in $build; there are: Alpha Beta" \
    "$(
        # shellcheck source=../../tools/wine-product.sh
        source "$repo/tools/wine-product.sh" && product_description "$build" Bramble 2>&1
    )"

[ "$failures" -eq 0 ]
