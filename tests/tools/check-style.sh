#!/usr/bin/env bash
# Every C and C++ source of the project is as .clang-format writes it, and
# every shell script passes shellcheck (.shellcheckrc).
# Usage: check-style.sh SOURCE_DIR
set -uo pipefail

cd "$1" || exit 1
status=0
mapfile -t sources < <(git ls-files '*.c' '*.cpp' '*.h')
mapfile -t scripts < <(git ls-files '*.sh' .ci/run)
clang-format-14 --dry-run --Werror "${sources[@]}" || status=1
shellcheck "${scripts[@]}" || status=1
echo "${#sources[@]} sources and ${#scripts[@]} scripts checked"
exit "$status"
