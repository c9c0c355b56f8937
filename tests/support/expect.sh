# shellcheck shell=bash
# Sourced by the shell checks: one line per expectation, "ok" or "FAIL" with
# both values, and a count of the failures for the check's exit status.
failures=0

expect() {
    local what=$1 expected=$2 actual=$3
    if [ "$expected" != "$actual" ]; then
        printf 'FAIL %s\n  expected: %s\n  actual:   %s\n' "$what" "$expected" "$actual"
        failures=$((failures + 1))
    else
        printf 'ok   %s\n' "$what"
    fi
}

yes_if() { if "$@"; then echo yes; else echo no; fi; }
