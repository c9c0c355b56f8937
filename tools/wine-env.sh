# Sourced: the project's Wine settings, and a function that creates the prefix.
tessalune_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$tessalune_repo/build/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko: nothing here needs them, and their installers would prompt.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

ensure_wine_prefix() {
    [ -f "$WINEPREFIX/system.reg" ] && return
    mkdir -p "$(dirname "$WINEPREFIX")"
    # Tests start in parallel; only one of them may create the prefix.
    (
        flock 9
        [ -f "$WINEPREFIX/system.reg" ] || { wineboot -i && wineserver -w; } </dev/null >/dev/null 2>&1
    ) 9>"$WINEPREFIX.lock"
}
