#!/usr/bin/env bash
# The installer under Wine, as a user meets it: install, start the product
# from its Start-menu shortcut, uninstall; install a lower version (its
# launcher built at that version) in a folder of the administrator's choice,
# upgrade it there without naming the folder again, install the same version
# again, install a signed build of that version over it, be refused a
# downgrade, uninstall, leaving no folder anywhere. Given a second product, it lives beside the first in
# the same prefix: its shortcut hands over with its own PRODUCTNAME, and the
# first's upgrade and uninstall leave its launcher, shortcuts and entry as
# they were, and it leaves the first's. The host below the shared
# application-data folder and its registry key must come through every
# msiexec run exactly as they were. First, the tables, for rules of Windows'
# validation that Wine does not keep.
# Usage: check-installer.sh OLDER_LAUNCHER PRODUCT [SECOND_PRODUCT] Sonvik.exe
#   OLDER_LAUNCHER: the product's launcher built at version 0.9.0
#   PRODUCT: a product's description (build/windows-x86/products/NAME/NAME.product)
set -uo pipefail

older_launcher=$1
shift
first=$1
second="" second_name="" second_code=""
host=${*: -1}
here=$(cd "$(dirname "$0")" && pwd)
release_sh="$here/../../installer/release.sh"
# shellcheck source=../support/expect.sh
source "$here/../support/expect.sh"
# shellcheck source=../../tools/wine-product.sh
source "$here/../../tools/wine-product.sh"
ensure_wine_prefix
in_windows_form() { winepath -w "$1" 2>/dev/null; }

use_product "$first"
msi=$product_msi
version=$product_version
launcher=$product_launcher
work=$(mktemp -d)
host_key='HKLM\Software\Orvanel\Sonvik'
# Windows' codes, as Wine cuts them to 8 bits.
fatal_error=$((1603 % 256))
unknown_product=$((1605 % 256))

code=$(product_code_of "$msi")
if [ $# -eq 3 ]; then
    second=$2
    second_name=$("$release_sh" describe "$second" name)
    second_code=$(product_code_of "$(use_product "$second"; echo "$product_msi")")
fi
# The older release, of the product's launcher built at 0.9.0, and another
# build of the version, signed with a throwaway certificate: other bytes, so
# a product code of its own (installer/release/msi_identity.py).
"$here/make-other-releases.sh" "$first" "$older_launcher" "$work/other" || exit 1
older_msi="$work/other/older/$product_name/$product_name-0.9.0.msi"
older_code=$(product_code_of "$older_msi")
signed_msi="$work/other/signed/$product_name/$product_name-$version.msi"
signed_code=$(product_code_of "$signed_msi")
unzip -p "$work/other/signed/$product_name/$product_name-$version-win32.zip" "$product_executable" >"$work/signed.exe"

clean_up() {
    msiexec_quietly /x "$code"
    msiexec_quietly /x "$older_code"
    msiexec_quietly /x "$signed_code"
    [ -z "$second" ] || msiexec_quietly /x "$second_code"
    wine reg delete "$host_key" /f >/dev/null 2>&1
    rm -rf "$work" "$host_folder"
}
trap clean_up EXIT

# The host's files with their sizes, times and modes, their contents, and its key.
host_state() {
    (cd "$host_folder/.." && find "$product_host_folder" -printf '%p %y %s %T@ %m\n' | sort \
        && sha256sum "$product_host_folder/$product_host")
    wine reg query "$host_key" 2>/dev/null | tr -d '\r'
}

# Everything of the product in use on the machine: its launcher, its
# shortcuts, its entries with their versions, its own key, its folder.
installed_state() {
    local entry
    [ -e "$install_folder/$product_executable" ] && sha256sum <"$install_folder/$product_executable"
    product_shortcuts
    for entry in $(product_entries); do
        echo "$entry $(uninstall_entry "${entry##*\\}" | grep '^DisplayVersion=')"
    done
    # The product's own key, in the registry's view a 32-bit package writes to.
    wine reg query "${uninstall_key%%\\Microsoft\\*}\\$product_manufacturer\\$product_name" 2>/dev/null \
        | tr -d '\r' | grep -v '^reg: \|^$'
    [ -e "$install_folder" ] && in_windows_form "$install_folder"
    return 0
}

# Nothing of the product is left, nor the folder of the family's products
# once no other product is installed.
nothing_left() {
    installed_state
    [ -e "$manufacturer_folder" ] && in_windows_form "$manufacturer_folder"
    return 0
}

# What the host received when the product's Start-menu shortcut was started
# through the shell with two arguments.
expect_shortcut_hands_over() {
    rm -f "$host_report"
    start_shortcut "$(start_menu_shortcut)" "two words" "Grüße"
    wait_for_host_report
    for parser in shell-argument crt-argument; do
        expect "$product_name: the host's $parser list" '"Sonvik.exe" "two words" "Grüße"' \
            "$(reported "$parser" | paste -sd ' ')"
    done
    expect "$product_name: the host's PRODUCTNAME" "\"$product_productname\"" "$(reported productname)"
    expect "$product_name: the host's working directory is the install folder" \
        "\"$(in_windows_form "$install_folder" | sed 's/\\/\\\\/g')\"" "$(reported working-directory)"
    rm -f "$host_report"
}

# msiexec without its window; its status in $status, Wine's warnings (which
# name the actions it does not carry out) in $msiexec_log.
msiexec_log="$work/msiexec.log"
run_msiexec() {
    local before
    before=$(host_state)
    status=0
    WINEDEBUG=warn+msi wine msiexec "$@" /qn </dev/null >/dev/null 2>"$msiexec_log" || status=$?
    expect "  the host and its key as they were" "$before" "$(host_state)"
}

shortcut_counts() { echo "$(product_shortcuts | grep -c '/Start Menu/') $(product_shortcuts | grep -c '/Desktop/')"; }

install_sample_host "$host"
touch -d '2020-01-02 03:04:05' "$host_folder/$product_host" "$host_folder"
wine reg add "$host_key" /v InstallPath /d 'C:\ProgramData\Orvanel' /f >/dev/null 2>&1
size=$(stat -c %s "$msi")
expect "the MSI is at most 1 MB (1,000,000 bytes)" yes "$([ "$size" -le 1000000 ] && echo yes || echo "no: $size bytes")"

echo "the MSI's tables"
for table in Component CreateFolder Registry Shortcut File Upgrade InstallExecuteSequence InstallUISequence; do
    msiinfo export "$msi" "$table" | tr -d '\r' | tail -n +4 >"$work/$table"
done
cd "$work" || exit 1
# What the payload declares: each component, its key path's kind (a registry
# key path by its root as the Registry table numbers it: HKMU is -1), and the
# shortcuts it makes.
"$release_sh" payload "$first" --components >components
declared() { awk -F '\t' -v shortcuts="$1" 'BEGIN { root["HKMU"] = -1; root["HKLM"] = 2; root["HKCU"] = 1 }
    { kind = $2; if (kind == "registry") { split($3, key, "\\"); kind = root[key[1]] } }
    !shortcuts { print $1 ":" kind } shortcuts && $6 != "" { print $1 ":" kind ":" }' components | sort | paste -sd ' '; }
# A key path is a file or a registry value of the component's own (Attributes
# bit 4 tells which) or, when empty, a folder the component creates (ICE18).
expect "each component's key path: a file, a registry value (its root) or a folder of its own" "$(declared 0)" \
    "$(awk -F '\t' 'FILENAME == "File" { file[$1] = $2; next } FILENAME == "Registry" { reg[$1] = $6; root[$1] = $2; next }
        FILENAME == "CreateFolder" { created[$1, $2]; next } { kind = "none" }
        $6 == "" && ($3, $1) in created { kind = "folder" }
        int($4 / 4) % 2 == 0 && file[$6] == $1 { kind = "file" }
        int($4 / 4) % 2 == 1 && reg[$6] == $1 { kind = root[$6] }
        { print $1 ":" kind }' File Registry CreateFolder Component | sort | paste -sd ' ')"
# A shortcut's component must be keyed under HKCU, or HKMU (-1) as here
# (ICE43); a [#file] of another component can resolve to nothing (ICE69).
expect "each shortcut: the root of its component's key, files of other components it names" "$(declared 1)" \
    "$(awk -F '\t' 'FILENAME == "File" { file[$1] = $2; next } FILENAME == "Registry" { root[$1] = $2; next }
        FILENAME == "Component" { key[$1] = $6; next } { other = ""; target = $5 }
        { while (match(target, /\[#[^]]*\]/)) { f = substr(target, RSTART + 2, RLENGTH - 3)
              if (file[f] != $4) other = other f; target = substr(target, RSTART + RLENGTH) } }
        { print $1 ":" root[key[$4]] ":" other }' File Registry Component Shortcut | sort | paste -sd ' ')"
# The signed build of the version, beside it: a component keyed in the
# uninstall entry, whose place moves with every build, has a code of its own
# in each; every other keeps its code.
msiinfo export "$signed_msi" Component | tr -d '\r' | tail -n +4 >SignedComponent
expect "a component keyed in the uninstall entry has a code a build; the others keep theirs" \
    "$(awk -F '\t' 'FILENAME == "Registry" { key[$1] = $3; next }
        { print $1 ":" (int($4 / 4) % 2 == 1 && key[$6] ~ /CurrentVersion\\Uninstall/ ? "own" : "kept") }' \
        Registry Component | sort | paste -sd ' ')" \
    "$(awk -F '\t' 'FILENAME == "SignedComponent" { code[$1] = $2; next } { print $1 ":" (code[$1] == $2 ? "kept" : "own") }' \
        SignedComponent Component | sort | paste -sd ' ')"
launcher_row=$("$release_sh" payload "$first" --msi-files | awk -F '\t' -v file="$product_executable" '$1 == file { print $2 }')
expect "the launcher's File row: version and language of its version resource" "$version.0 1033" \
    "$(awk -F '\t' -v row="$launcher_row" '$1 == row { print $5, $6 }' File)"
# Windows keeps the features chosen for an older version (the desktop
# shortcut) when the row that finds it has MigrateFeatures (1) and the action
# runs once the features are costed, before they are carried out.
expect "upgrade row MigrateFeatures; MigrateFeatureStates placed in the execute and UI sequences" "1 1 1" \
    "$(awk -F '\t' '$7 == "WIX_UPGRADE_DETECTED" { print $5 % 2 }' Upgrade) $(for sequence in *Sequence; do
        awk -F '\t' '{ at[$1] = $3 } END { m = at["MigrateFeatureStates"]; last = at["InstallValidate"] + at["ExecuteAction"]
            print (m > at["CostFinalize"] && m < last) }' "$sequence"; done | paste -sd ' ')"
cd - >/dev/null || exit 1

echo "install $product_name $version"
run_msiexec /i "$(in_windows_form "$msi")"
expect "exit status" 0 "$status"
expect "the launcher is in $(in_windows_form "$install_folder"), as built" yes \
    "$(yes_if cmp -s "$launcher" "$install_folder/$product_executable")"
expect "shortcuts: one in the Start menu, none on the desktop by default" "1 0" "$(shortcut_counts)"
address=$product_releases_address
# Windows' values and the project's icon, and no shortcut's key path among them.
expect "the Add/Remove Programs entry: the product, where it is installed, its releases and its support" \
    "DisplayIcon=$(in_windows_form "$install_folder/$product_executable"),0
DisplayName=$product_name
DisplayVersion=$version
HelpLink=$product_support_address
InstallLocation=$(in_windows_form "$install_folder")\\
NoModify=0x1
Publisher=$product_manufacturer
URLInfoAbout=$address
URLUpdateInfo=$address" \
    "$(uninstall_entry "$code" | grep -E '^(Display(Name|Version|Icon)|Publisher|NoModify|[A-Za-z]*Shortcut|HelpLink|InstallLocation|URL(InfoAbout|UpdateInfo))=' \
        | sort)"

echo "start the Start-menu shortcut through the shell, with two arguments"
expect_shortcut_hands_over
run_msiexec /i "$(in_windows_form "$msi")" REMOVE=StartMenuShortcut
expect "REMOVE=StartMenuShortcut takes the Start-menu shortcut away and leaves the launcher" "0 0 0 yes" \
    "$status $(shortcut_counts) $(yes_if cmp -s "$launcher" "$install_folder/$product_executable")"

echo "uninstall"
run_msiexec /x "$code"
expect "exit status" 0 "$status"
expect "nothing of $product_name is left: launcher, shortcut, entry, its folder and the one it is in" "" "$(nothing_left)"
run_msiexec /x "$code"
expect "a second uninstall: not installed (1605)" "$unknown_product" "$status"

echo "choices that would break the product"
# The last action a run's verbose log (UTF-16) says it started: the one that refused. Wine's log
# leaves out the refusal's text, which Windows' has.
last_action() { tr -d '\0' <"$work/refused.log" | sed -n 's/^Action start [0-9:]*: \(.*\)\.$/\1/p' | tail -n 1; }
run_msiexec /i "$(in_windows_form "$msi")" ADDLOCAL=DesktopShortcut /l*v "$(in_windows_form "$work/refused.log")"
launcher_too_or_refused() {
    { [ "$status" = 0 ] && [ -e "$install_folder/$product_executable" ]; } || { [ "$status" = "$fatal_error" ] &&
        [ -z "$(nothing_left)" ] && [ "$(last_action)" = RequireLauncher ]; }
}
expect "ADDLOCAL=DesktopShortcut alone installs the launcher too, or is refused (1603) by its check, leaving nothing" \
    yes "$(launcher_too_or_refused && echo yes || echo "no: status $status, left: $(nothing_left)")"
run_msiexec /x "$code"
# Per machine only: a per-user installation would write the product's values into HKCU, which a later
# uninstall for all users leaves behind. ALLUSERS= is ALLUSERS="" as msiexec reads it.
run_msiexec /i "$(in_windows_form "$msi")" ALLUSERS= /l*v "$(in_windows_form "$work/refused.log")"
expect "ALLUSERS=\"\" is refused (1603) by its launch condition, leaving nothing, in HKCU neither" \
    "$fatal_error LaunchConditions" \
    "$status$(nothing_left)$(wine reg query "HKCU\\Software\\$product_manufacturer\\$product_name" 2>/dev/null |
        tr -d '\r' | grep -v '^reg: \|^$') $(last_action)"

echo "install where winget's --location puts it, through the manifest's switches"
# The switches, their tokens replaced, split as msiexec reads its command line: Wine's msiexec takes a
# quoted value given on its own command line with a backslash before it, where Windows' takes it whole
# (seen with Wine 8: INSTALLFOLDER="C:\X" installed into \C:\X). The path has no backslash before a
# quote, where Windows' rules and shlex's part.
winget_folder="$WINEPREFIX/drive_c/Winget Location/$product_name"
winget_log="$WINEPREFIX/drive_c/winget-$product_name.log"
mapfile -t switches < <(/usr/bin/python3 - "$product_release/$product_name-$version.winget" \
    "$product_manufacturer.$product_name" "$(in_windows_form "$winget_folder")" "$(in_windows_form "$winget_log")" <<'EOF'
import shlex, sys, yaml
folder, identifier, location, log = sys.argv[1:]
switches = yaml.safe_load(open(f"{folder}/{identifier}.installer.yaml", encoding="utf-8"))["Installers"][0]["InstallerSwitches"]
line = " ".join([switches["InstallLocation"].replace("<INSTALLPATH>", location), switches["Log"].replace("<LOGPATH>", log)])
print(*shlex.split(line), sep="\n")
EOF
)
run_msiexec /i "$(in_windows_form "$msi")" "${switches[@]}"
expect "installed in $(in_windows_form "$winget_folder"), with its Start-menu shortcut, the log written" "0 yes 1 yes" \
    "$status $(yes_if cmp -s "$launcher" "$winget_folder/$product_executable") $(
        shortcut_counts | cut -d' ' -f1) $(yes_if test -s "$winget_log")"
run_msiexec /x "$code"
expect "uninstalled, nothing left there" "0 no" "$status $(yes_if test -e "$winget_folder")"

echo "upgrade with a plain msiexec /i from 0.9.0 installed with the desktop shortcut in a folder of its own"
chosen_folder="$WINEPREFIX/drive_c/Apps/$product_name"
run_msiexec /i "$(in_windows_form "$older_msi")" ADDLOCAL=ALL INSTALLFOLDER="C:\\Apps\\$product_name"
expect "0.9.0 installs with both shortcuts, in the folder chosen" "0 1 1 yes" \
    "$status $(shortcut_counts) $(yes_if test -e "$chosen_folder/$product_executable")"
default_folder=$install_folder install_folder=$chosen_folder
beside=""
if [ -n "$second" ]; then
    echo "install $second_name beside it, and start its shortcut"
    (
        use_product "$second"
        run_msiexec /i "$(in_windows_form "$product_msi")"
        expect "exit status" 0 "$status"
        expect "$product_name has an entry and a folder of its own" "1 yes" \
            "$(product_entries | wc -l) $(yes_if test -e "$install_folder/$product_executable")"
        expect_shortcut_hands_over
        [ "$failures" -eq 0 ]
    ) || failures=$((failures + 1))
    beside=$(use_product "$second"; installed_state)
fi
run_msiexec /i "$(in_windows_form "$msi")"
expect "exit status" 0 "$status"
expect "one entry is left, $version's" "HKEY_LOCAL_MACHINE${uninstall_key#HKLM}\\$code" "$(product_entries)"
expect "the launcher is the one built, in the folder chosen for 0.9.0" yes \
    "$(yes_if cmp -s "$launcher" "$install_folder/$product_executable")"
expect "nothing of it in $(in_windows_form "$default_folder")" no "$(yes_if test -e "$default_folder")"
[ -n "$second" ] || expect "no folder of the family's made in Program Files" no "$(yes_if test -e "$manufacturer_folder")"
# Wine 8's msiexec logs MigrateFeatureStates as unhandled: the tables above hold
# what Windows needs (README). An msiexec that carries it out is held to it.
if grep -q 'unhandled msi action L"MigrateFeatureStates"' "$msiexec_log"; then
    expect "Wine's msiexec skipped MigrateFeatureStates (Windows keeps the desktop shortcut): Start menu only" "1 0" \
        "$(shortcut_counts)"
    run_msiexec /i "$(in_windows_form "$msi")" ADDLOCAL=DesktopShortcut
    expect "the desktop shortcut added to the installed version" "0" "$status"
fi
expect "shortcuts: one in the Start menu, one on the desktop" "1 1" "$(shortcut_counts)"

upgraded=$(installed_state)
echo "install $version again"
run_msiexec /i "$(in_windows_form "$msi")"
expect "exit status" 0 "$status"
expect "nothing changed" "$upgraded" "$(installed_state)"

echo "install a signed build of $version over it"
run_msiexec /i "$(in_windows_form "$signed_msi")"
expect "exit status" 0 "$status"
expect "one entry is left, the signed build's, whose product code is its own" \
    "HKEY_LOCAL_MACHINE${uninstall_key#HKLM}\\$signed_code yes" \
    "$(product_entries) $(yes_if test "$signed_code" != "$code")"
expect "the signed launcher is in place, in the folder chosen" yes \
    "$(yes_if cmp -s "$work/signed.exe" "$install_folder/$product_executable")"
code=$signed_code
upgraded=$(installed_state)

echo "downgrade to 0.9.0"
run_msiexec /i "$(in_windows_form "$older_msi")"
expect "refused (1603)" "$fatal_error" "$status"
expect "nothing changed" "$upgraded" "$(installed_state)"

# The product beside the first is as it was: launcher, shortcut, entry, folder.
expect_beside_untouched() {
    [ -z "$second" ] || expect "$1: the product beside it as it was" "$beside" "$(use_product "$second"; installed_state)"
}
expect_beside_untouched "upgrade, reinstall and refused downgrade"

echo "uninstall"
shell_folders() { ls -d "$WINEPREFIX"/drive_c/{users/*,ProgramData}/{Desktop,AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs,Microsoft/Windows/Start\ Menu/Programs} 2>/dev/null; }
shell_folders_before=$(shell_folders)
run_msiexec /x "$code"
expect "exit status" 0 "$status"
if [ -n "$second" ]; then
    expect "nothing of $product_name is left: launcher, shortcuts, entry, its folder" "" "$(installed_state)"
    expect_beside_untouched "uninstall"
    echo "uninstall $second_name"
    run_msiexec /x "$second_code"
    expect "exit status" 0 "$status"
    expect "nothing of $second_name is left: launcher, shortcuts, entry, its folder" "" \
        "$(use_product "$second"; installed_state)"
fi
expect "nothing of $product_name is left: launcher, shortcuts, entry, its folder and the one it is in" "" "$(nothing_left)"
expect "the Start-menu and desktop folders are still there" "$shell_folders_before" "$(shell_folders)"

# The Windows workflow's life cycle of the MSI (.github/windows/life-cycle.cmd
# and tests/installer/msi_life_cycle.cpp), on 64-bit Windows as its runners
# are, here under Wine, which skips what only Windows does and says so: a
# broken script or program is found before a push. The folders as the
# workflow has them: the release, the other releases, the unpacked kit.
if [ -n "$second" ]; then
    echo "the MSI's life cycle as the Windows workflow runs it"
    rm -rf "$host_folder"
    mkdir -p "$work/releases" "$work/others" "$work/kits/$product_name-$version-windows-tests"
    ln -s "$product_release" "$work/releases/$product_name"
    ln -s "$work/other" "$work/others/$product_name"
    (cd "$work/kits/$product_name-$version-windows-tests" && cmake -E tar xf "$product_kit")
    status=0
    (cd "$work" && wine cmd /c "$(in_windows_form "$here/../../.github/windows/life-cycle.cmd")" results others kits \
        releases </dev/null >"$work/life-cycle.txt" 2>&1) || status=$?
    expect "every msiexec run returned what it must, every check held or was skipped under Wine" 0 "$status"
    [ "$status" -eq 0 ] || cat "$work/life-cycle.txt"
    expect "each of its 13 steps in the summary, and only what Wine cannot do skipped" "13 0" \
        "$(grep -c '^| ✅ \|^| ⏭️ ' "$work/results/life-cycle.md") $(grep '⏭️' "$work/results/life-cycle.md" |
            grep -vc 'skipped: Wine')"
    expect "a verbose log of each" 13 "$(find "$work/results/$product_name-life-cycle/logs" -name '*.log' | wc -l)"
    # Where its upgrade while the launcher ran asked for a restart, Wine's
    # msiexec left its new launcher beside the old, to be renamed by the next
    # wineboot into a folder nothing would remove: the prefix's own restart
    # is undone.
    if grep -q '^| ✅ | upgrade while the launcher runs | .* | 3010 |' "$work/results/life-cycle.md"; then
        wine reg delete 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations /f \
            >/dev/null 2>&1
        rm -rf "$manufacturer_folder"
    fi
    expect "nothing of $product_name is left, nor the host" "" "$(nothing_left; ls "$host_folder" 2>/dev/null)"
fi

[ "$failures" -eq 0 ]
