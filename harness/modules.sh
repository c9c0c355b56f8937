#!/usr/bin/env bash
# Lists the modules (DLLs) a launcher maps on its way to handing over, under
# Wine: the sample host beside it is installed where launchers look for it,
# the launcher is started once, and the DLLs its own process loaded are
# printed as sorted, lower-cased base names, one a line. The host runs as a
# process of its own, so what it loads is left out.
# Usage: modules.sh PRODUCT [PROGRAM.exe]   (in $WINEPREFIX, by default the project's)
#   PRODUCT: a product's description, whose host's place is taken; PROGRAM: by
#   default the product's launcher
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then echo "usage: $0 PRODUCT [PROGRAM.exe]" >&2; exit 2; fi
# shellcheck source=../tools/wine-product.sh
source "$(dirname "$0")/../tools/wine-product.sh"
use_product "$1" || exit 2
program=$(readlink -f "${2:-$product_launcher}")
[ -f "$program" ] || { echo "no such program: $program" >&2; exit 2; }
ensure_wine_prefix

log=$(mktemp)
trap 'rm -f "$log" "$host_report" "$host_folder/$product_host"; rmdir "$host_folder" 2>/dev/null || true' EXIT
install_sample_host "$(dirname "$program")/Sonvik.exe"

# A launcher that hands over ends with status 0; any other ends the listing.
status=0
WINEDEBUG=+pid,+loaddll wine "$program" </dev/null >/dev/null 2>"$log" || status=$?
[ "$status" -eq 0 ] || { echo "$(basename "$program") ended with status $status" >&2; exit 1; }
wait_for_host_report || { echo "the host never reported after $(basename "$program")" >&2; exit 1; }

# Wine writes one line per module mapped, e.g.
#   0104:0108:trace:loaddll:build_module Loaded L"C:\\windows\\system32\\kernel32.dll" at 7B600000: builtin
# Processes Wine starts for itself log too, so the launcher's process is the
# one that mapped the launcher's own file, whatever its place in the log.
awk -v exe="$(basename "$program" | tr '[:upper:]' '[:lower:]')" '
    /:trace:loaddll:/ && / Loaded L"/ {
        pid = substr($0, 1, index($0, ":") - 1)
        name = tolower($0)
        sub(/" at [0-9a-f]+: .*$/, "", name)
        sub(/^.*\\/, "", name)
        if (NR == FNR) { if (name == exe && launcher == "") launcher = pid; next }
        if (pid == launcher && name != exe) print name
    }
    END { if (launcher == "") { print "no module of " exe " was logged" > "/dev/stderr"; exit 1 } }
' "$log" "$log" | sort -u
