#!/usr/bin/env bash
# Every C and C++ source of the project is as .clang-format writes it, every
# shell script passes shellcheck (.shellcheckrc), and no file but the product
# tables, their icons, the README, the changelog, docs/ and the tests names a
# product: the build takes each product's values from its table.
# Usage: check-style.sh SOURCE_DIR
set -uo pipefail

cd "$1" || exit 1
status=0
mapfile -t sources < <(git ls-files '*.c' '*.cpp' '*.h')
mapfile -t scripts < <(git ls-files '*.sh' .ci/run)
clang-format-14 --dry-run --Werror "${sources[@]}" || status=1
shellcheck "${scripts[@]}" || status=1
while IFS= read -r product; do
    named=$(git grep -il -w "$product" -- . ':!README.md' ':!CHANGELOG.md' ':!docs' ':!tests' ':!products')
    [ -z "$named" ] || { echo "FAIL $product is named outside the product tables: $named"; status=1; }
done < <(sed -n 's/^launcher_product(\([A-Za-z0-9]*\).*/\1/p' products/table.cmake tests/products/table.cmake)
echo "${#sources[@]} sources and ${#scripts[@]} scripts checked"
exit "$status"
