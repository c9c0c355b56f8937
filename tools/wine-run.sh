#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's own prefix, creating the
# prefix on first use. CTest uses this as the emulator of the cross build.
set -euo pipefail
# shellcheck source=wine-env.sh
source "$(dirname "$0")/wine-env.sh"
ensure_wine_prefix
exec wine "$@"
