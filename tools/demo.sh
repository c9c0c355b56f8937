#!/usr/bin/env bash
# Usage: tools/demo.sh [--product NAME]
# The main job: a product as a user meets it (by default the product table's
# first), under Wine in a prefix of its own. Builds its release, installs the
# sample host where the launcher looks for it, installs the product's MSI,
# starts it from its Start-menu shortcut with a few arguments and prints what
# the host received, and shows that a batch file waiting on the launcher gets
# the host's status. Then it removes the host, starts the shortcut once more
# and saves a screenshot of the error box, and finally uninstalls and shows
# that nothing of the product is left while the host's folder is as the demo
# left it.
# shellcheck disable=SC2154  # option_product: usage.sh sets it from the usage line
set -euo pipefail

# shellcheck source=usage.sh
source "$(dirname "$0")/usage.sh" "$@"
build="$repo/build/windows-x86"
out="$repo/build/demo"
export WINEPREFIX="$out/wine-prefix"

# shellcheck source=wine-product.sh
source "$repo/tools/wine-product.sh"

if ! in_wine_session; then
    "$repo/tools/setup.sh"
    cd "$repo"
    cmake --preset windows-x86 >/dev/null
    # What the demo shows: this product's launcher and release, and the 64-bit host.
    description=$(product_description "$build" "$option_product") || exit 2
    use_product "$description"
    cmake --build --preset windows-x86 --target "${product_executable%.exe}" "${product_name}_components" sample_host_x64
    # A test release, marked as one, where the tree holds uncommitted work.
    installer/make-release.sh --product "$product" --out "$(dirname "$product_release")" --allow-uncommitted
fi
carry_on_in_wine_session "$@"
use_product "$(product_description "$build" "$option_product")"
msi=$product_msi
code=$(product_code_of "$msi")
title=$product_error_title

# A Wine desktop of its own draws the box with its title bar, as Windows does.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d "$product_name" /f >/dev/null 2>&1
desktop_width=640 desktop_height=300
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v "$product_name" /d "${desktop_width}x$desktop_height" /f \
    >/dev/null 2>&1

in_windows_form() { winepath -w "$1" 2>/dev/null; }

show_installation() {
    local entry
    printf '  launcher: %s\n' "$([ -f "$install_folder/$product_executable" ] && in_windows_form "$install_folder/$product_executable" || echo none)"
    printf '  shortcuts: %s\n' "$(product_shortcuts | sed 's|^|C:\\|; s|/|\\|g' | paste -sd ';' | sed 's/;/; /g; s/^$/none/')"
    entry=$(uninstall_entry "$code")
    printf '  Add/Remove Programs: %s\n' "$([ -n "$entry" ] && echo "$entry" | sed -n 's/^\(DisplayName\|DisplayVersion\|Publisher\)=//p' | paste -sd ' ' || echo none)"
}

show_report() {
    local field heading
    printf '\nWhat the host received (values as JSON strings):\n'
    printf '  command line:\n    %s\n' "$(reported command-line)"
    for field in shell-argument crt-argument; do
        [ "$field" = shell-argument ] && heading="arguments as CommandLineToArgvW splits them" \
                                      || heading="arguments as the C run-time's wide argv splits them"
        printf '  %s:\n' "$heading"
        reported "$field" | awk '{ printf "    [%d] %s\n", NR - 1, $0 }'
    done
    printf '  working directory: %s\n' "$(reported working-directory)"
    printf '  PRODUCTNAME as the host reads it: %s\n' "$(reported productname)"
    printf '  environment: %s entries; those named PRODUCTNAME, in any case: %s\n' \
        "$(reported environment | wc -l)" "$(reported environment | grep -i '^"PRODUCTNAME=' | paste -sd ' ')"
}

host_folder_listing() { (cd "$host_folder" && find . -printf '%p  %s bytes  %TY-%Tm-%Td %TT\n' | sort); }

install_sample_host "$build/bin/Sonvik-x64.exe"
printf 'The sample host, built for 64-bit Windows, is installed as %s in a %s prefix.\n' "$(in_windows_form "$host_folder/$product_host")" "$(wine_prefix_arch)"

printf '\nInstalling %s (msiexec /i, quiet).\n' "$(basename "$msi")"
status=0
msiexec_quietly /i "$(in_windows_form "$msi")" || status=$?
printf 'msiexec exited with status %d.\n' "$status"
show_installation
shortcut=$(start_menu_shortcut)

arguments=("two words" 'Grüße 日本')
printf '\nStarting "%s" from the Start menu through the shell, with an inherited PRODUCTNAME=other and the arguments:\n' "$product_name"
printf '  [%s]\n' "${arguments[@]}"
PRODUCTNAME=other start_shortcut "$shortcut" "${arguments[@]}"
wait_for_host_report
show_report

# A batch file that starts the launcher and waits for it gets the host's status.
caller="$WINEPREFIX/drive_c/users/Public/wait-for-the-launcher.cmd"
printf '@echo off\r\nstart "" /wait "%s" --wait-ms=1000 --exit-status=7\r\necho %%ERRORLEVEL%%\r\n' \
    "$(in_windows_form "$install_folder/$product_executable")" >"$caller"
printf '\nA batch file runs start /wait %s, its host asked to run a second and end with status 7: ERRORLEVEL %s\n' \
    "$product_executable" "$(wine cmd /c 'C:\users\Public\wait-for-the-launcher.cmd' </dev/null 2>/dev/null | tr -d '\r')"
rm -f "$caller"

printf '\nRemoving the host and starting "%s" from the Start menu again.\n' "$product_name"
rm -f "$host_folder/$product_host"
wine start /wait /unix "$shortcut" </dev/null >/dev/null 2>&1 &
launcher=$!
wait_for xdotool search --name "$title" >/dev/null
sleep 1
desktop=$(xdotool search --name "$product_name - Wine desktop" | head -n 1)
import -window "$desktop" "$out/error-box.png"
printf 'The error box "%s" was shown; screenshot: %s\n' "$title" "$out/error-box.png"

# The box sits in the middle of the desktop: a click there gives it the
# keyboard, and Return presses its OK button.
xdotool mousemove $((desktop_width / 2)) $((desktop_height / 2)) click 1
sleep 0.5
xdotool key Return
wait "$launcher" || true
# The shell starts a shortcut's program without a handle to it, so its exit
# status (-1) does not come back this way; the end-to-end tests check it.
printf 'After OK, the launcher ended.\n'

left_by_the_demo=$(host_folder_listing)
printf '\nUninstalling (msiexec /x %s, quiet).\n' "$code"
status=0
msiexec_quietly /x "$code" || status=$?
printf 'msiexec exited with status %d.\n' "$status"
show_installation
printf '  %s: %s\n' "$(in_windows_form "$host_folder")" \
    "$([ "$(host_folder_listing)" = "$left_by_the_demo" ] && echo "as the demo left it:" || echo "CHANGED by the uninstall:")"
host_folder_listing | sed 's/^/    /'
