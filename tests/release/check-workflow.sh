#!/usr/bin/env bash
# The Windows workflow as GitHub's parser and actionlint read it, and every
# script, path and artifact it names, before a push
# (tests/release/workflow/check-workflow.mjs): nothing found in it, and in a
# copy of it with one line broken, what that line breaks: an unknown key, a
# step pointing at a script that is not there, a path below the downloaded
# artifact that no job uploads. The paths it names below build/windows-x86
# are this build's, once it has made the releases.
# Usage: check-workflow.sh SOURCE_DIR BUILD_DIR
set -uo pipefail

repo=$1 build=$2
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../support/expect.sh
source "$here/../support/expect.sh"
if [ "$(cd "$build" && pwd)" != "$(cd "$repo" && pwd)/build/windows-x86" ]; then
    echo "SKIP the workflow names the paths of build/windows-x86; this build is $build"
    exit 77
fi
[ -d "$here/workflow/node_modules" ] || { echo "FAIL $here/workflow has no node_modules: run tools/setup.sh"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
workflow="$repo/.github/workflows/windows.yml"

check() { (cd "$here/workflow" && node --import ./json-imports.mjs check-workflow.mjs "$1" "$repo" 2>&1; echo "status $?"); }
broken() { sed "$1" "$workflow" >"$work/windows.yml" && check "$work/windows.yml"; }

expect "the workflow: nothing found" "status 0" "$(check "$workflow")"

found=$(broken '0,/^    timeout-minutes: /s//    timeout-minute: /')
expect "an unknown key: GitHub's parser and actionlint find it" "yes yes" \
    "$(yes_if grep -q "^parser: .*Unexpected value 'timeout-minute'" <<<"$found") $(
        yes_if grep -q '^actionlint: .*unexpected key "timeout-minute"' <<<"$found")"
found=$(broken 's/\\kits\.cmd as-administrator/\\kit.cmd as-administrator/')
expect "a step pointing at a script that is not there" yes \
    "$(yes_if grep -q 'names .github/windows/kit.cmd, which the repository does not hold' <<<"$found")"
found=$(broken '0,/artifacts\\windows-x86\\release /s//artifacts\\windows-x86\\releases /')
expect "a path below the downloaded artifact that is not uploaded" yes \
    "$(yes_if grep -q 'names artifacts/windows-x86/releases, .*not uploaded' <<<"$found")"

[ "$failures" -eq 0 ]
