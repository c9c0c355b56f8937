# shellcheck shell=bash
# Sourced by the scripts that drive a product under Wine (the demo, the
# installer, signing and module checks): where the host goes and what it
# reports, installing and removing a product's MSI, and the shortcuts it
# makes. use_product chooses the product; the functions below then speak of it.
# shellcheck source=wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

# Where the 32-bit MSI puts the launcher and its Add/Remove Programs entry: on
# 64-bit Windows in "Program Files (x86)" and below Wow6432Node, where the
# system redirects a 32-bit installation; on 32-bit Windows in "Program Files".
if [ "$WINEARCH" = win64 ]; then
    program_files="$WINEPREFIX/drive_c/Program Files (x86)"
    uninstall_key='HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall'
else
    program_files="$WINEPREFIX/drive_c/Program Files"
    uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
fi

# The product the functions below speak of, by its description: its values
# (product_KEY, as installer/release.sh describes it), and where its release is, where its
# MSI installs it and where its host goes. product_executable is the
# launcher's file name, .exe included.
# The variables are for the scripts that source this one.
# shellcheck disable=SC2034
product_name="" product_productname="" product_executable="" product_version="" product_upgrade_code=""
# shellcheck disable=SC2034
product_manufacturer="" product_releases_address="" product_support_address="" product_home_address="" product_host=""
# shellcheck disable=SC2034
product_host_folder=""
# shellcheck disable=SC2034
product_error_title=""
# shellcheck disable=SC2034
product_launcher="" product_components="" product_release="" product_kit=""
# shellcheck disable=SC2034
use_product() {
    local values
    product=$1
    values=$("$launcher_repo/installer/release.sh" describe --shell "$product") || return 1
    eval "$values"
    product_executable+=.exe
    product_msi="$product_release/$product_name-$product_version.msi"
    manufacturer_folder="$program_files/$product_manufacturer"
    install_folder="$manufacturer_folder/$product_name"
    host_folder="$WINEPREFIX/drive_c/ProgramData/$product_host_folder"
    # The sample host's report, beside it under its own name.
    host_report="$host_folder/Sonvik-received.txt"
}

# The description of a product in a build folder, by its name, among the
# products of the tables the build was last configured with (its
# products/list); without one, of the product the demo and the benchmark take
# as theirs: the product table's first.
product_description() {
    local build=$1 name=${2:-}
    [ -n "$name" ] || { cat "$build/products/primary"; return; }
    grep -qxF -- "$name" "$build/products/list" 2>/dev/null \
        || { echo "no product $name in $build; there are: $(paste -sd ' ' "$build/products/list" 2>/dev/null)" >&2; return 1; }
    echo "$build/products/$name/$name.product"
}

# Runs "$@" until it succeeds, for up to a minute.
wait_for() {
    local tries=600
    until "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || { echo "gave up waiting for: $*" >&2; return 1; }
        sleep 0.1
    done
}

# The sample host, where the product's launcher looks for its host.
install_sample_host() {
    mkdir -p "$host_folder"
    cp "$1" "$host_folder/$product_host"
    rm -f "$host_report"
}

# A launcher that hands over ends before its host has written anything.
wait_for_host_report() { wait_for test -f "$host_report"; }

# The values of one field of the host's report, one a line, as JSON strings.
reported() { sed -n "s/^$1 //p" "$host_report"; }

# In braces, as msiexec takes it and the registry names its entry.
product_code_of() { msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }

# msiexec without its window; the status is Wine's, cut to 8 bits.
msiexec_quietly() { wine msiexec "$@" /qn </dev/null >/dev/null 2>&1; }

# Every shortcut of the product in a Start menu or on a desktop, all users'
# and per user, relative to C:. Wine puts a per-machine install's shortcuts in
# the user's folders, where Windows uses the all-users ones.
product_shortcuts() {
    local drive="$WINEPREFIX/drive_c" link
    for link in "$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/$product_name.lnk" \
                "$drive"/users/*/"AppData/Roaming/Microsoft/Windows/Start Menu/Programs/$product_name.lnk" \
                "$drive"/users/*/"Desktop/$product_name.lnk"; do
        [ -e "$link" ] && echo "${link#"$drive"/}"
    done
    return 0
}

start_menu_shortcut() {
    local link
    link=$(product_shortcuts | grep -m 1 '/Start Menu/') || return 1
    echo "$WINEPREFIX/drive_c/$link"
}

# Starts a shortcut through the Windows shell, as a click on it does, and
# waits for its program to end, for up to a minute.
start_shortcut() { timeout 60 wine start /wait /unix "$@" </dev/null >/dev/null 2>&1; }

# NAME=value lines of the uninstall entry of a product code.
uninstall_entry() {
    { wine reg query "$uninstall_key\\$1" 2>/dev/null || true; } | tr -d '\r' \
        | sed -n 's/^    \([^ ]*\)    REG_[A-Z_]*    \(.*\)$/\1=\2/p; s/^    \([^ ]*\)    REG_[A-Z_]*$/\1=/p'
}

# The uninstall entries named after the product, one key a line.
product_entries() {
    { wine reg query "$uninstall_key" /s 2>/dev/null || true; } | tr -d '\r' \
        | awk -v entry="    DisplayName    REG_SZ    $product_name" '/^HKEY_/ { key = $0 } $0 == entry { print key }'
}
