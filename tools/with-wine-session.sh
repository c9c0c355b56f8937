#!/usr/bin/env bash
# Runs a command on a virtual display with a Wine session ready in the
# project's prefix, and ends both afterwards.
# Usage: with-wine-session.sh COMMAND [ARGUMENT...]
set -euo pipefail

source "$(dirname "$0")/wine-env.sh"

if ! in_wine_session; then
    export TESSALUNE_WINE_SESSION=1
    exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$@"
fi
ensure_wine_prefix

# The server and Wine's services are started here, detached from any output:
# CTest waits until every process holding a test's output has ended, and
# these would otherwise hold the first test's for as long as they live.
wineserver -k >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot </dev/null >/dev/null 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

"$@"
