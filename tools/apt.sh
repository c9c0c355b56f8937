# shellcheck shell=bash
# Sourced by tools/setup.sh: Debian's packages installed by name through a
# mirror that may be in mid-sync.
#
# A mirror brings its package lists up to date one after another, and may
# serve a list older than its signed release file for hours or days (apt:
# "File has unexpected size (…). Mirror sync in progress?"). apt rightly
# refuses such a list, keeps the others, and exits 100. The set-up then
# tries again a few times; if a list is still refused, it goes on if what it
# needs installs from the lists that arrived, and otherwise stops with one
# sentence that blames the mirror and says to run the same command later.
# apt installs all of a request or none of it, so nothing is undone, and the
# next run installs only what is still missing.
#
# SETUP_APT_TRIES and SETUP_APT_PAUSE (seconds) set how often and how far
# apart the lists are asked for.

apt_tries=${SETUP_APT_TRIES:-4}
apt_pause=${SETUP_APT_PAUSE:-15}
apt_updated=0
# Each list the last update could not take: "ADDRESS<TAB>apt's reason".
refused_lists=""

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

is_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# apt-get update, tried again while a list is refused. Fails only where apt
# failed otherwise (its words shown), not for a refused list: what to do
# about that is the install's to decide, knowing what it needs.
update_package_lists() {
    local try output status
    for ((try = 1; ; try++)); do
        status=0
        output=$(as_root apt-get update -qq 2>&1) || status=$?
        refused_lists=$(sed -n 's/^[EW]: Failed to fetch \([^ ]*\) *\(.*\)$/\1\t\2/p' <<<"$output" |
            sed 's/ *\[IP: [^]]*\]$//')
        [ -n "$refused_lists" ] || break
        [ "$try" -lt "$apt_tries" ] || break
        sleep "$apt_pause"
    done
    if [ "$status" -ne 0 ] && [ -z "$refused_lists" ]; then
        printf '%s\n' "$output" >&2
        return 1
    fi
    apt_updated=1
}

update_package_lists_once() {
    [ "$apt_updated" -eq 1 ] || update_package_lists
}

# The sentence that stops the set-up when what it needs cannot be installed
# without a list the mirror would not serve whole.
mirror_out_of_step() {
    local address reason
    IFS=$'\t' read -r address reason <<<"${refused_lists%%$'\n'*}"
    echo "setup: Debian's mirror is out of step: it serves the package list $address otherwise than its signed" \
        "release file says (apt: \"$reason\"), and without that list what the set-up still needs cannot be" \
        "installed; the fault is the mirror's, not this project's or this machine's, and it mends itself:" \
        "run the same command again later, and it goes on from where it stopped" >&2
}

# Installs those of the packages given that are missing. Where a list was
# refused, apt's newest versions may not fit together: a Multi-Arch library
# must be at one version on every architecture, and the security list of one
# of them may be the list missing. The distribution's point release, whose
# lists arrived whole, is then asked for instead; it lacks only the updates
# published since, which apt-get upgrade brings once the mirror is whole.
install_missing_packages() {
    local package missing=() point_release
    for package; do is_installed "$package" || missing+=("$package"); done
    [ ${#missing[@]} -gt 0 ] || return 0
    update_package_lists_once || return 1
    local install=(install -y -qq --no-install-recommends)
    if [ -z "$refused_lists" ] || apt-get -s "${install[@]}" "${missing[@]}" >/dev/null 2>&1; then
        as_root apt-get "${install[@]}" "${missing[@]}"
        return
    fi
    point_release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    if [ -n "$point_release" ] &&
        apt-get -s -t "$point_release" "${install[@]}" "${missing[@]}" >/dev/null 2>&1; then
        echo "setup: Debian's mirror serves $(cut -f1 <<<"$refused_lists" | paste -sd ' ') otherwise than its" \
            "signed release file says: installing from the $point_release point release's lists, which are whole;" \
            "the updates published since come with apt-get upgrade once the mirror is whole again" >&2
        as_root apt-get -t "$point_release" "${install[@]}" "${missing[@]}"
        return
    fi
    mirror_out_of_step
    return 1
}
