#!/usr/bin/env bash
# The set-up's installation through a mirror in mid-sync (tools/apt.sh), with
# apt-get replaced by a script that refuses a list as apt does then (exit 100,
# "Mirror sync in progress?") as often as it is told: refused once, the lists
# are asked for again and the packages installed; refused every time, the
# set-up still goes on where what it needs installs from the lists that
# arrived (the point release's), and otherwise stops with one sentence that
# blames the mirror and says to run it again later, having installed nothing.
# Usage: check-setup-mirror.sh SOURCE_DIR
set -uo pipefail

repo=$1
# shellcheck source=../support/expect.sh
source "$repo/tests/support/expect.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir "$work/bin"
cat >"$work/bin/apt-get" <<'EOF'
#!/usr/bin/env bash
# Refuses a list on the first $REFUSALS updates; installs what $INSTALLABLE says
# ("newest", "point-release" or "none"); logs each call.
echo "$*" >>"$LOG"
case " $* " in
    *" update "*)
        refused=$(grep -c '^update' "$LOG")
        if [ "$refused" -le "$REFUSALS" ]; then
            echo "E: Failed to fetch http://mirror.invalid/debian-security/dists/x/main/binary-i386/Packages.xz " \
                "File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]"
            echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
            exit 100
        fi ;;
    *" -s -t "*) [ "$INSTALLABLE" != none ] ;;
    *" -s "*) [ "$INSTALLABLE" = newest ] ;;
esac
EOF
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg-query"
chmod +x "$work/bin/apt-get" "$work/bin/dpkg-query"

# install REFUSALS INSTALLABLE: the status, then what apt-get was asked, on one line; what the set-up said in $work/said.
install() {
    local status=0
    : >"$work/log"
    (
        export PATH="$work/bin:$PATH" LOG="$work/log" REFUSALS=$1 INSTALLABLE=$2 SETUP_APT_TRIES=3 SETUP_APT_PAUSE=0
        # shellcheck source=../../tools/apt.sh
        source "$repo/tools/apt.sh"
        as_root() { "$@"; }
        install_missing_packages wine32:i386 xvfb
    ) 2>"$work/said" || status=$?
    echo "$status $(sed 's/ -y -qq --no-install-recommends//; s/-t [a-z]*/-t POINT/' "$work/log" | paste -sd '|')"
}

expect "a list refused once: asked for again, then installed" \
    "0 update -qq|update -qq|install wine32:i386 xvfb" "$(install 1 none)"
expect "...saying nothing" "" "$(cat "$work/said")"
expect "refused every time, what is needed installs from the point release's lists: installed from them" \
    "0 update -qq|update -qq|update -qq|-s install wine32:i386 xvfb|-s -t POINT install wine32:i386 xvfb|-t POINT install wine32:i386 xvfb" \
    "$(install 9 point-release)"
expect "...saying so, in one line naming the list" "1 yes" \
    "$(wc -l <"$work/said") $(yes_if grep -q 'serves http://mirror.invalid/.*/binary-i386/Packages.xz otherwise' "$work/said")"
expect "refused every time, what is needed cannot install: stops, having installed nothing" \
    "1 update -qq|update -qq|update -qq|-s install wine32:i386 xvfb|-s -t POINT install wine32:i386 xvfb" \
    "$(install 9 none)"
expect "...in one sentence that names the list, blames the mirror and says to run it again later" "1 yes yes yes" \
    "$(wc -l <"$work/said") $(yes_if grep -q 'list http://mirror.invalid/.*Packages.xz' "$work/said") $(
        yes_if grep -q "apt: \"File has unexpected size (374820 != 376004). Mirror sync in progress?\"" "$work/said") $(
        yes_if grep -q "the fault is the mirror's.*run the same command again later" "$work/said")"

[ "$failures" -eq 0 ]
