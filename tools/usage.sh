# shellcheck shell=bash
# Sourced by the entry scripts that take no arguments. The script's opening
# comment, from its "Usage:" line on, is its usage: --help or -h prints it and
# ends the script with status 0; anything else is refused with it and status 2.
print_usage() { sed -n '/^# Usage:/,/^[^#]/{/^#/s/^# \{0,1\}//p}' "$0"; }

take_no_arguments() {
    [ $# -eq 0 ] && return
    case $1 in
        -h | --help) print_usage; exit 0 ;;
        *) echo "$(basename "$0"): unknown argument: $1" >&2; print_usage >&2; exit 2 ;;
    esac
}
