#!/usr/bin/env bash
# The installer under Wine, as a user meets it: install, start "Tessalune"
# from its Start-menu shortcut, uninstall; upgrade from a lower version (built
# here from the same launcher) installed with the desktop shortcut, install the
# same version again, be refused a downgrade, uninstall. The host below the
# shared application-data folder and its registry key must come through every
# msiexec run exactly as they were. First, the MSI's tables are read for the
# rules Windows' own validation checks and Wine's msiexec does not.
# Usage: check-installer.sh Tessalune-X.Y.Z.msi X.Y.Z Tessalune.exe Sonvik.exe
set -uo pipefail

msi=$1
version=$2
launcher=$3
host=$4
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/expect.sh"
source "$here/../../tools/wine-product.sh"
ensure_wine_prefix

work=$(mktemp -d)
host_key='HKLM\Software\Orvanel\Sonvik'
# Windows' codes, as Wine cuts them to 8 bits.
fatal_error=$((1603 % 256))
unknown_product=$((1605 % 256))

code=$(product_code_of "$msi")
"$here/../../installer/make-release.sh" --launcher "$launcher" --version 0.9.0 --out "$work/older" >/dev/null
older_msi="$work/older/Tessalune-0.9.0.msi"
older_code=$(product_code_of "$older_msi")

clean_up() {
    msiexec_quietly /x "$code"
    msiexec_quietly /x "$older_code"
    wine reg delete "$host_key" /f >/dev/null 2>&1
    rm -rf "$work" "$host_folder"
}
trap clean_up EXIT

# The host's files with their sizes, times and modes, their contents, and its key.
host_state() {
    (cd "$host_folder/.." && find Orvanel -printf '%p %y %s %T@ %m\n' | sort && sha256sum Orvanel/Sonvik.exe)
    wine reg query "$host_key" 2>/dev/null | tr -d '\r'
}

# Everything of Tessalune on the machine: its file, its shortcuts, its entries.
installed_state() {
    [ -e "$install_folder/Tessalune.exe" ] && sha256sum <"$install_folder/Tessalune.exe"
    product_shortcuts
    product_entries
    [ -z "$(product_entries)" ] || uninstall_entry "$code" | grep '^DisplayVersion='
    [ -e "$WINEPREFIX/drive_c/Program Files/Orvanel" ] && echo "Program Files\\Orvanel"
    return 0
}

# msiexec without its window; its status in $status, and in $msiexec_log
# Wine's warnings, which name the standard actions it does not carry out.
msiexec_log="$work/msiexec.log"
run_msiexec() {
    local before
    before=$(host_state)
    status=0
    WINEDEBUG=warn+msi wine msiexec "$@" /qn </dev/null >/dev/null 2>"$msiexec_log" || status=$?
    expect "  the host and its key as they were" "$before" "$(host_state)"
}

shortcut_counts() { echo "$(product_shortcuts | grep -c '/Start Menu/') $(product_shortcuts | grep -c '/Desktop/')"; }

in_windows_form() { winepath -w "$1" 2>/dev/null; }

install_sample_host "$host"
touch -d '2020-01-02 03:04:05' "$host_folder/Sonvik.exe" "$host_folder"
wine reg add "$host_key" /v InstallPath /d 'C:\ProgramData\Orvanel' /f >/dev/null 2>&1
size=$(stat -c %s "$msi")
expect "the MSI is at most 1 MB (1,000,000 bytes)" yes "$([ "$size" -le 1000000 ] && echo yes || echo "no: $size bytes")"

echo "the MSI's tables"
mkdir "$work/tables"
for table in Component CreateFolder Registry Shortcut File Upgrade InstallExecuteSequence InstallUISequence; do
    msiinfo export "$msi" "$table" | tr -d '\r' | tail -n +4 >"$work/tables/$table"
done
# A key path is a file or a registry value of the component's own (the
# Attributes bit 4 tells which), or, when empty, its folder, which the
# component must then create (ICE18).
expect "every component's key path: a file, a registry value or a folder of its own" \
    "DesktopShortcut:registry Launcher:file ManufacturerFolder:folder StartMenuShortcut:registry" \
    "$(cd "$work/tables" && awk -F '\t' '
        FILENAME == "File" || FILENAME == "Registry" { owner[FILENAME, $1] = $(FILENAME == "File" ? 2 : 6); next }
        FILENAME == "CreateFolder" { created[$1, $2]; next }
        { kind = "none" }
        $6 == "" && ($3, $1) in created { kind = "folder" }
        $6 != "" && int($4 / 4) % 2 == 0 && owner["File", $6] == $1 { kind = "file" }
        $6 != "" && int($4 / 4) % 2 == 1 && owner["Registry", $6] == $1 { kind = "registry" }
        { print $1 ":" kind }' File Registry CreateFolder Component | sort | paste -sd ' ')"
# A component's key path tells Windows whether it is installed: a shortcut's
# must be a registry value under HKCU, or HKMU (-1) as here (ICE43).
expect "each shortcut's component: key path in HKMU" "DesktopShortcut:-1 StartMenuShortcut:-1" \
    "$(cd "$work/tables" && awk -F '\t' '
        FILENAME == "Registry" { root[$1] = $2; next }
        FILENAME == "Component" { key[$1] = $6; next }
        { print $1 ":" ($4 in key && key[$4] in root ? root[key[$4]] : "none") }' Registry Component Shortcut \
        | sort | paste -sd ' ')"
# [#file] or [$component] of another component resolves to nothing when that
# component is not being changed (ICE69).
expect "no shortcut refers to a file or component of another component" "" \
    "$(cd "$work/tables" && awk -F '\t' 'FILENAME == "File" { owner[$1] = $2; next }
        { target = $5; while (match(target, /\[[#$][^]]*\]/)) {
              key = substr(target, RSTART + 2, RLENGTH - 3); target = substr(target, RSTART + RLENGTH)
              if ((key in owner ? owner[key] : key) != $4) print $1 } }' File Shortcut | paste -sd ' ')"
expect "the launcher's File row: version and language of its version resource" "$version.0 1033" \
    "$(awk -F '\t' '$1 == "TessaluneExe" { print $5, $6 }' "$work/tables/File")"
# Windows keeps the features chosen for an older version (the desktop
# shortcut) when the row that finds it has MigrateFeatures (1) and the action
# runs once the features are costed, before the installation is carried out.
expect "the row finding older versions migrates their features" 1 \
    "$(awk -F '\t' '$7 == "WIX_UPGRADE_DETECTED" { print $5 % 2 }' "$work/tables/Upgrade")"
for sequence in InstallUISequence:ExecuteAction InstallExecuteSequence:InstallValidate; do
    expect "${sequence%:*}: CostFinalize, MigrateFeatureStates, ${sequence#*:}" \
        "CostFinalize MigrateFeatureStates ${sequence#*:}" \
        "$(sort -t $'\t' -k 3n "$work/tables/${sequence%:*}" | cut -f 1 \
            | grep -xE "CostFinalize|MigrateFeatureStates|${sequence#*:}" | paste -sd ' ')"
done

echo "install Tessalune $version"
run_msiexec /i "$(in_windows_form "$msi")"
expect "exit status" 0 "$status"
expect "the launcher is in Program Files\\Orvanel\\Tessalune, as built" yes "$(yes_if cmp -s "$launcher" "$install_folder/Tessalune.exe")"
expect "shortcuts: one in the Start menu, none on the desktop by default" "1 0" "$(shortcut_counts)"
expect "the Add/Remove Programs entry, with the Start-menu shortcut's key path" \
    "DisplayIcon=C:\\Program Files\\Orvanel\\Tessalune\\Tessalune.exe,0
DisplayName=Tessalune
DisplayVersion=$version
NoModify=0x1
Publisher=Orvanel
StartMenuShortcut=0x1" \
    "$(uninstall_entry "$code" \
        | grep -E '^(DisplayName|Publisher|DisplayVersion|DisplayIcon|NoModify|StartMenuShortcut|DesktopShortcut)=' | sort)"

echo "start the Start-menu shortcut through the shell, with two arguments"
rm -f "$host_report"
start_shortcut "$(start_menu_shortcut)" "two words" "Grüße"
wait_for_host_report
for parser in shell-argument crt-argument; do
    expect "the host's $parser list" '"Sonvik.exe" "two words" "Grüße"' "$(reported "$parser" | paste -sd ' ')"
done
expect "the host's PRODUCTNAME" '"tessalune"' "$(reported productname)"
expect "the host's working directory is the install folder" '"C:\\Program Files\\Orvanel\\Tessalune"' \
    "$(reported working-directory)"
rm -f "$host_report"

echo "uninstall"
run_msiexec /x "$code"
expect "exit status" 0 "$status"
expect "nothing of Tessalune is left: file, shortcut, entry, Program Files\\Orvanel" "" "$(installed_state)"
run_msiexec /x "$code"
expect "a second uninstall: not installed (1605)" "$unknown_product" "$status"

echo "upgrade with a plain msiexec /i from 0.9.0 installed with the desktop shortcut"
run_msiexec /i "$(in_windows_form "$older_msi")" ADDLOCAL=ALL
expect "0.9.0 installs with both shortcuts" "0 1 1" "$status $(shortcut_counts)"
run_msiexec /i "$(in_windows_form "$msi")"
expect "exit status" 0 "$status"
expect "one entry is left, $version's" "HKEY_LOCAL_MACHINE${uninstall_key#HKLM}\\$code" "$(product_entries)"
expect "the launcher is the one built" yes "$(yes_if cmp -s "$launcher" "$install_folder/Tessalune.exe")"
# Wine 8's msiexec has no MigrateFeatureStates: it logs the action as
# unhandled and installs the default features, so there the shortcut's fate
# is Wine's; the tables above hold what Windows needs, and the README says how
# to see it there. Any msiexec that carries the action out is held to it.
if grep -q 'unhandled msi action L"MigrateFeatureStates"' "$msiexec_log"; then
    echo "note Wine's msiexec did not carry out MigrateFeatureStates; on Windows the desktop shortcut stays"
    expect "shortcuts as Wine leaves them, with the default features: Start menu only" "1 0" "$(shortcut_counts)"
    run_msiexec /i "$(in_windows_form "$msi")" ADDLOCAL=DesktopShortcut
    expect "the desktop shortcut added to the installed version" "0" "$status"
fi
expect "shortcuts: one in the Start menu, one on the desktop" "1 1" "$(shortcut_counts)"

upgraded=$(installed_state)
echo "install $version again"
run_msiexec /i "$(in_windows_form "$msi")"
expect "exit status" 0 "$status"
expect "nothing changed" "$upgraded" "$(installed_state)"

echo "downgrade to 0.9.0"
run_msiexec /i "$(in_windows_form "$older_msi")"
expect "refused (1603)" "$fatal_error" "$status"
expect "nothing changed" "$upgraded" "$(installed_state)"

echo "uninstall"
shell_folders() { ls -d "$WINEPREFIX"/drive_c/{users/*,ProgramData}/{Desktop,AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs,Microsoft/Windows/Start\ Menu/Programs} 2>/dev/null; }
shell_folders_before=$(shell_folders)
run_msiexec /x "$code"
expect "exit status" 0 "$status"
expect "nothing of Tessalune is left: file, shortcuts, entry, Program Files\\Orvanel" "" "$(installed_state)"
expect "the Start-menu and desktop folders are still there" "$shell_folders_before" "$(shell_folders)"

[ "$failures" -eq 0 ]
