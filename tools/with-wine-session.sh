#!/usr/bin/env bash
# Runs a command on a virtual display with a Wine session ready in the
# project's prefix, and ends both afterwards. Inside a session already, it
# only serves another prefix (the 32-bit one) for the command.
# Usage: with-wine-session.sh COMMAND [ARGUMENT...]
set -euo pipefail

# shellcheck source=wine-env.sh
source "$(dirname "$0")/wine-env.sh"

if ! in_wine_session; then
    export LAUNCHER_WINE_SESSION=1
    exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$@"
fi
ensure_wine_prefix

start_wine_services
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

"$@"
