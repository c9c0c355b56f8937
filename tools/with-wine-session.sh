#!/usr/bin/env bash
# Usage: tools/with-wine-session.sh COMMAND [ARGUMENT...]
# Runs a command on a virtual display with a Wine session ready in the
# project's prefix, and ends both afterwards. Inside a session already, it
# only serves another prefix (the 32-bit one) for the command.
set -euo pipefail

# Its arguments are the command's: only a first one that asks for help is its own.
usage() { sed -n '/^# Usage:/,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$0"; }
case ${1:-} in
    -h | --help) usage; exit 0 ;;
    "" | -*) echo "with-wine-session.sh: ${1:+unknown argument: $1: }give a command to run" >&2; usage >&2; exit 2 ;;
esac

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
