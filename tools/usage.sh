# shellcheck shell=bash
# Sourced first by the entry scripts, with their arguments:
#   source "$(dirname "$0")/../tools/usage.sh" "$@"
# The script's opening comment, from its "Usage:" line to its end or to a
# directive for shellcheck, which is no part of what its reader needs, is
# its usage: --help or -h prints it and ends the script with status 0. The options its
# usage line offers, "[--NAME]" or "[--NAME VALUE]", set option_NAME (dashes
# as underscores) to "yes" or the value; they are empty otherwise. Anything
# else is refused with the usage and status 2. Then repo is the clone the
# script is in.
print_usage() { awk '/^# Usage:/ { on = 1 } on && (!/^#/ || /^# shellcheck /) { exit } on { sub(/^# ?/, ""); print }' "$0"; }
refuse_usage() { echo "$(basename "$0"): $*" >&2; print_usage >&2; exit 2; }

usage_line=$(grep -m 1 '^# Usage:' "$0")
for offered in $(grep -o '\[--[a-z-]*' <<<"$usage_line" | tr -d '['); do
    offered=${offered#--}
    declare "option_${offered//-/_}="
done
while [ $# -gt 0 ]; do
    case $1 in
        -h | --help) print_usage; exit 0 ;;
        --*)
            name=${1#--}
            if [[ $usage_line == *"[$1]"* ]]; then
                declare "option_${name//-/_}=yes"
                shift
            elif [[ $usage_line =~ \[$1\ [A-Z]+\] ]]; then
                if [ $# -lt 2 ] || [ -z "$2" ]; then refuse_usage "$1 needs a value"; fi
                declare "option_${name//-/_}=$2"
                shift 2
            else
                refuse_usage "unknown argument: $1"
            fi ;;
        *) refuse_usage "unknown argument: $1" ;;
    esac
done
unset name offered usage_line
# shellcheck disable=SC2034  # for the script that sources this
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
