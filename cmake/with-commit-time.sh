#!/bin/sh
# Usage: with-commit-time.sh FILE COMMAND [ARGUMENT...]
# Runs a compiler with SOURCE_DATE_EPOCH set to the commit time FILE holds
# (cmake/commit-time.cmake writes it), so that __DATE__ and __TIME__ name it.
SOURCE_DATE_EPOCH=$(cat "$1") || exit 1
export SOURCE_DATE_EPOCH
shift
exec "$@"
