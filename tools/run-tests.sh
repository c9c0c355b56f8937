#!/usr/bin/env bash
# Usage: tools/run-tests.sh
# Installs what is needed, builds every preset and runs every test: the
# native unit tests, the same under AddressSanitizer and UndefinedBehavior-
# Sanitizer, a minute of fuzzing each for the argument quoting and the host
# environment, then the Windows build's unit and end-to-end tests under Wine
# on a virtual display. Ends with one "N passed, N failed" line.
set -uo pipefail

# shellcheck source=usage.sh
source "$(dirname "$0")/usage.sh" "$@"
cd "$repo" || exit 1
log="$repo/build/test-results.log"

tools/setup.sh || exit 1
mkdir -p build
: >"$log"

run_preset() {
    local preset=$1; shift
    cmake --preset "$preset" >/dev/null || return 1
    cmake --build --preset "$preset" || return 1
    "$@" ctest --preset "$preset" 2>&1 | tee -a "$log"
}

status=0
run_preset native || status=1
run_preset sanitize || status=1
run_preset fuzz || status=1
run_preset windows-x86 tools/with-wine-session.sh || status=1

# Each ctest run closes with "N% tests passed, F tests failed out of T".
read -r passed failed < <(awk '/tests passed, [0-9]+ tests? failed out of/ {
        t += $NF; f += $4 } END { print t - f, f + 0 }' "$log")
printf '%d passed, %d failed\n' "$passed" "$failed"
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
