# shellcheck shell=bash
# Sourced: the project's Wine settings, and functions that create the prefix
# and start its session.
launcher_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Every prefix states its architecture rather than taking what the machine's
# Wine packages make by default. 64-bit Windows, where the 32-bit launcher
# runs under WoW64, is what users run; a 32-bit prefix is asked for by name.
export WINEARCH="${WINEARCH:-win64}"
export WINEPREFIX="${WINEPREFIX:-$launcher_repo/build/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: nothing here needs them, and their installers would
# prompt. No menu builder: it would copy every installed shortcut into the
# Linux user's menus.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
# A prefix links its Desktop and Documents into $HOME: a home of its own keeps
# what installers put there inside the build tree.
export HOME="$WINEPREFIX.home"

# The architecture a prefix was made for, as Wine records it.
wine_prefix_arch() { sed -n 's/^#arch=//p' "$WINEPREFIX/system.reg" 2>/dev/null; }

# Windows' administrative share of drive C:, \\localhost\c$, as Wine reads a
# network path: through a link below dosdevices/unc. The cases started from a
# network share start there.
share_of_drive_c="$WINEPREFIX/dosdevices/unc/localhost/c\$"
wine_prefix_ready() { [ "$(wine_prefix_arch)" = "$WINEARCH" ] && [ -L "$share_of_drive_c" ]; }

ensure_wine_prefix() {
    wine_prefix_ready && return
    mkdir -p "$(dirname "$WINEPREFIX")" "$HOME"
    # Tests start in parallel; only one of them may create the prefix.
    (
        flock 9
        wine_prefix_ready && exit 0
        if [ "$(wine_prefix_arch)" != "$WINEARCH" ]; then
            # A prefix of the other architecture, left by an earlier build, is
            # the project's own scratch: it is made anew.
            if [ -f "$WINEPREFIX/system.reg" ]; then
                echo "wine-env: $WINEPREFIX is $(wine_prefix_arch), $WINEARCH is asked for: making it anew" >&2
                wineserver -k >/dev/null 2>&1 || true
                rm -rf "$WINEPREFIX"
            fi
            { wineboot -i && wineserver -w; } </dev/null >/dev/null 2>&1
            # Wine does not look for its own fonts where Debian puts them; without
            # Marlett, title bars draw their close button as the letter "r".
            cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
        fi
        mkdir -p "$(dirname "$share_of_drive_c")"
        ln -sfn ../../c: "$share_of_drive_c"
    ) 9>"$WINEPREFIX.lock"
}

# Starts the prefix's server and Wine's services detached from any output:
# CTest waits until every process holding a test's output has ended, and
# these would otherwise hold the first test's for as long as they live.
start_wine_services() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -p </dev/null >/dev/null 2>&1
    wine wineboot </dev/null >/dev/null 2>&1
}

# Whether this runs inside tools/with-wine-session.sh, which sets the mark.
in_wine_session() { [ "${LAUNCHER_WINE_SESSION:-}" = 1 ]; }

# For the scripts that build first and then carry on under Wine (the demo, the
# benchmark): runs the calling script again, from its start, in a Wine session
# of its own prefix, and returns at once when it already runs in one.
carry_on_in_wine_session() {
    in_wine_session && return
    exec "$launcher_repo/tools/with-wine-session.sh" "$0" "$@"
}
