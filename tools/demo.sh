#!/usr/bin/env bash
# The main job: builds the launcher and the sample host, installs the host
# where the launcher looks for it (in a Wine prefix of its own), starts the
# launcher with a few arguments and prints what the host received. Then it
# removes the host, starts the launcher once more and saves a screenshot of
# the error box it shows.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
bin="$repo/build/windows-x86/bin"
out="$repo/build/demo"
export WINEPREFIX="$out/wine-prefix"

if [ "${1:-}" != --in-session ]; then
    "$repo/tools/setup.sh"
    cd "$repo"
    cmake --preset windows-x86 >/dev/null
    cmake --build --preset windows-x86 --target Tessalune sample_host
    exec "$repo/tools/with-wine-session.sh" "$0" --in-session
fi

host_folder="$WINEPREFIX/drive_c/ProgramData/Orvanel"
report="$host_folder/Sonvik-received.txt"
title="Invalid SONVIK installation!"

# A Wine desktop of its own draws the box with its title bar, as Windows does.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Tessalune /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Tessalune /d 640x300 /f >/dev/null 2>&1

wait_for() {
    local tries=600
    until "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || { echo "gave up waiting for: $*" >&2; exit 1; }
        sleep 0.1
    done
}

show_report() {
    local field heading
    printf '\nWhat the host received (values as JSON strings):\n'
    printf '  command line:\n    %s\n' "$(sed -n 's/^command-line //p' "$report")"
    for field in shell-argument crt-argument; do
        [ "$field" = shell-argument ] && heading="arguments as CommandLineToArgvW splits them" \
                                      || heading="arguments as the C run-time's wide argv splits them"
        printf '  %s:\n' "$heading"
        sed -n "s/^$field //p" "$report" | awk '{ printf "    [%d] %s\n", NR - 1, $0 }'
    done
    printf '  PRODUCTNAME as the host reads it: %s\n' "$(sed -n 's/^productname //p' "$report")"
    printf '  environment: %s entries; those named PRODUCTNAME, in any case: %s\n' \
        "$(grep -c '^environment ' "$report")" \
        "$(grep -i '^environment "PRODUCTNAME=' "$report" | sed 's/^environment //' | tr '\n' ' ')"
}

mkdir -p "$host_folder"
cp "$bin/Sonvik.exe" "$host_folder/Sonvik.exe"
rm -f "$report"

arguments=("two words" 'Grüße 日本' 'say "hi"' 'C:\My Files\' "")
printf 'Starting Tessalune.exe under Wine, with an inherited PRODUCTNAME=other and the arguments:\n'
printf '  [%s]\n' "${arguments[@]}"
status=0
PRODUCTNAME=other wine "$bin/Tessalune.exe" "${arguments[@]}" || status=$?
printf 'Tessalune.exe exited with status %d after handing over.\n' "$status"
wait_for test -f "$report"
show_report

printf '\nRemoving the host and starting Tessalune.exe again.\n'
rm -f "$host_folder/Sonvik.exe"
wine "$bin/Tessalune.exe" &
launcher=$!
wait_for xdotool search --name "$title" >/dev/null
sleep 1
desktop=$(xdotool search --name "Tessalune - Wine desktop" | head -n 1)
import -window "$desktop" "$out/error-box.png"
printf 'The error box "%s" was shown; screenshot: %s\n' "$title" "$out/error-box.png"

# The box sits in the middle of the desktop: a click there gives it the
# keyboard, and Return presses its OK button.
xdotool mousemove 320 150 click 1
sleep 0.5
xdotool key Return
status=0
wait "$launcher" || status=$?
printf 'After OK, Tessalune.exe exited with status %d (Windows: %d).\n' "$status" "$(( status > 127 ? status - 256 : status ))"
