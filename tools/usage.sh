# shellcheck shell=bash
# Sourced first by the entry scripts, which take no arguments, with theirs:
#   source "$(dirname "$0")/../tools/usage.sh" "$@"
# The script's opening comment, from its "Usage:" line on, is its usage:
# --help or -h prints it and ends the script with status 0; anything else is
# refused with it and status 2. Then repo is the clone the script is in.
print_usage() { sed -n '/^# Usage:/,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$0"; }

if [ $# -gt 0 ]; then
    case $1 in
        -h | --help) print_usage; exit 0 ;;
        *) echo "$(basename "$0"): unknown argument: $1" >&2; print_usage >&2; exit 2 ;;
    esac
fi
# shellcheck disable=SC2034  # for the script that sources this
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
