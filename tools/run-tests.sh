#!/usr/bin/env bash
# Usage: tools/run-tests.sh [--quick]
# Installs what is needed, builds every preset and runs every test, as CI
# does: the native unit tests, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer, a minute of fuzzing each for the argument
# quoting and the host environment, then the Windows build's unit,
# end-to-end, installer, release and kit checks under Wine on a virtual
# display. Ends with one "N passed, N failed" line.
#   --quick  what a change to the launcher needs, the inner loop: the unit
#            tests natively (the release package's among them) and under
#            Wine, and the end-to-end tests under Wine; no sanitizers, no
#            fuzzing, and no release, kit or installer is made or checked.
# shellcheck disable=SC2154  # option_quick: usage.sh sets it from the usage line
set -uo pipefail

# shellcheck source=usage.sh
source "$(dirname "$0")/usage.sh" "$@"
cd "$repo" || exit 1
log="$repo/build/test-results.log"

tools/setup.sh || exit 1
mkdir -p build
: >"$log"

# Under --quick, only the groups a launcher change needs, by their labels.
ctest_options=()
[ "$option_quick" = yes ] && ctest_options=(-L '^(unit|e2e)$')

# A preset that cannot be configured or built counts as a failure of its own,
# named at the end: its tests never ran, and nothing of it passed. One whose
# folder a developer set not to stop at warnings (docs/maintaining.md) is
# named too: CI's fresh folders stop at them.
unbuilt=()
relaxed=()
run_preset() {
    local preset=$1; shift
    if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset"; then
        unbuilt+=("$preset")
        return 1
    fi
    local as_errors
    as_errors=$(sed -n 's/^LAUNCHER_WARNINGS_AS_ERRORS:BOOL=//p' "build/$preset/CMakeCache.txt")
    [[ ${as_errors^^} =~ ^(ON|TRUE|YES|Y|1)$ ]] || relaxed+=("$preset")
    "$@" ctest --preset "$preset" "${ctest_options[@]}" 2>&1 | tee -a "$log"
}

status=0
run_preset native || status=1
if [ "$option_quick" != yes ]; then
    run_preset sanitize || status=1
    run_preset fuzz || status=1
fi
run_preset windows-x86 tools/with-wine-session.sh || status=1

# Each ctest run closes with "N% tests passed, F tests failed out of T".
read -r passed failed < <(awk '/tests passed, [0-9]+ tests? failed out of/ {
        t += $NF; f += $4 } END { print t - f, f + 0 }' "$log")
[ ${#unbuilt[@]} -eq 0 ] || echo "not built, so not tested: ${unbuilt[*]}"
[ ${#relaxed[@]} -eq 0 ] || echo "warnings did not stop the build, as they stop CI's: ${relaxed[*]}"
printf '%d passed, %d failed\n' "$passed" "$((failed + ${#unbuilt[@]}))"
[ "$status" -eq 0 ] && [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
