#!/usr/bin/env bash
# Runs a libFuzzer target for a bounded time on a fresh copy of its seed
# corpus, so that the inputs it adds stay in the build folder. Fails when the
# target aborts, a sanitizer reports, or an input leaks or runs out of memory;
# the input that did it is kept in WORK/findings.
#   run-fuzzer.sh FUZZER SEEDS WORK SECONDS
set -euo pipefail

fuzzer=$1 seeds=$2 work=$3 seconds=$4

rm -rf "$work"
mkdir -p "$work/corpus" "$work/findings"
cp -R "$seeds/." "$work/corpus/"

exec "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$work/findings/" "$work/corpus"
