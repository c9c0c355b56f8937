# Sourced: the project's Wine settings, and a function that creates the prefix.
tessalune_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$tessalune_repo/build/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: nothing here needs them, and their installers would
# prompt. No menu builder: it would copy every installed shortcut into the
# Linux user's menus.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
# A prefix links its Desktop and Documents into $HOME: a home of its own keeps
# what installers put there inside the build tree.
export HOME="$WINEPREFIX.home"

ensure_wine_prefix() {
    [ -f "$WINEPREFIX/system.reg" ] && return
    mkdir -p "$(dirname "$WINEPREFIX")" "$HOME"
    # Tests start in parallel; only one of them may create the prefix.
    (
        flock 9
        [ -f "$WINEPREFIX/system.reg" ] || { wineboot -i && wineserver -w; } </dev/null >/dev/null 2>&1
        # Wine does not look for its own fonts where Debian puts them; without
        # Marlett, title bars draw their close button as the letter "r".
        cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
    ) 9>"$WINEPREFIX.lock"
}

# Whether this runs inside tools/with-wine-session.sh, which sets the mark.
in_wine_session() { [ "${TESSALUNE_WINE_SESSION:-}" = 1 ]; }

# For the scripts that build first and then carry on under Wine (the demo, the
# benchmark): runs the calling script again, from its start, in a Wine session
# of its own prefix, and returns at once when it already runs in one.
carry_on_in_wine_session() {
    in_wine_session && return
    exec "$tessalune_repo/tools/with-wine-session.sh" "$0" "$@"
}
