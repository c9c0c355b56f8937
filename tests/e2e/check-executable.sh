#!/usr/bin/env bash
# Checks the built launcher as Windows and Explorer see it: a 32-bit x86 GUI
# program with ASLR and DEP and no writable code, that imports only known
# DLLs, with the icon group IDI_ICON1 of ten images and a manifest naming
# the common controls 6.0.0.0, Windows 7 to 11 and per-monitor DPI awareness,
# and a version resource, in at most 2 MB; subsystem 6.0, Terminal-Server aware.
# Usage: check-executable.sh PRODUCT   (its description, as the build writes it)
set -uo pipefail

release_sh="$(dirname "$0")/../../installer/release.sh"
value_of() { "$release_sh" describe "$product" "$1"; }
product=$1
exe=$(value_of launcher)
expected_version=$(value_of version)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=../support/expect.sh
source "$(dirname "$0")/../support/expect.sh"

headers=$(i686-w64-mingw32-objdump -p "$exe")
expect "format" "pei-i386" "$(sed -n 's/.*file format //p' <<<"$headers" | head -n 1)"
expect "subsystem" "00000002	(Windows GUI)" "$(sed -n 's/^Subsystem\s*//p' <<<"$headers")"
expect "subsystem version" "6.0" \
    "$(sed -n 's/^MajorSubsystemVersion\s*//p' <<<"$headers").$(sed -n 's/^MinorSubsystemVersion\s*//p' <<<"$headers")"

dll_characteristics=$(sed -n '/^DllCharacteristics/,/^SizeOfStackReserve/p' <<<"$headers")
expect "ASLR: dynamic base" "yes" "$(grep -qw DYNAMIC_BASE <<<"$dll_characteristics" && echo yes || echo no)"
expect "ASLR: relocations present" "yes" "$(yes_if grep -q ' \.reloc ' <<<"$(i686-w64-mingw32-objdump -h "$exe")")"
expect "DEP: NX compatible" "yes" "$(grep -qw NX_COMPAT <<<"$dll_characteristics" && echo yes || echo no)"
expect "Terminal-Server aware" "yes" "$(yes_if grep -qw TERMINAL_SERVICE_AWARE <<<"$dll_characteristics")"
writable_code=$(i686-w64-mingw32-objdump -h "$exe" | awk '/^ *[0-9]+ / { name = $2; next }
    /CODE/ && ! /READONLY/ { print name }' | tr '\n' ' ')
expect "no section both writable and executable" "" "$writable_code"

# The build is reproducible, so the size is a property of the commit: a change
# that links code the launcher never runs shows here.
size=$(stat -c %s "$exe")
expect "at most 2 MB (2,000,000 bytes)" "yes" "$([ "$size" -le 2000000 ] && echo yes || echo "no: $size bytes")"

# Imports are resolved before the launcher can narrow the library search, so
# each must be a known DLL, which Windows takes from the system folder only;
# anything else it loads later (delay-loaded).
known_dlls='^(ADVAPI32|COMDLG32|GDI32|IMM32|KERNEL32|msvcrt|ole32|OLEAUT32|SHELL32|SHLWAPI|USER32|WS2_32|setupapi|rpcrt4)\.dll$'
foreign=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | grep -viE "$known_dlls" | tr '\n' ' ')
expect "imports only known DLLs" "" "$foreign"

wrestool -x -t14 -n IDI_ICON1 -o "$work/icon.ico" "$exe" 2>/dev/null
expect "icon group IDI_ICON1 images (width height depth)" \
    "48x48x4 32x32x4 16x16x4 48x48x8 32x32x8 16x16x8 128x128x32 48x48x32 32x32x32 16x16x32" \
    "$(icotool -l "$work/icon.ico" 2>/dev/null \
        | sed -n 's/.*--width=\([0-9]*\) --height=\([0-9]*\) --bit-depth=\([0-9]*\).*/\1x\2x\3/p' | tr '\n' ' ' | sed 's/ $//')"

manifest=$(wrestool -x --raw -t24 "$exe" 2>/dev/null | tr -s ' \n\t' ' ')
expect "manifest names the common controls 6.0.0.0" "yes" \
    "$(grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' <<<"$manifest" && echo yes || echo no)"
expect "manifest runs as the invoker" "yes" \
    "$(grep -q 'requestedExecutionLevel level="asInvoker"' <<<"$manifest" && echo yes || echo no)"
expect "manifest names Windows 7, 8, 8.1, and 10 and 11" \
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a} {4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38} {1f676c76-80e1-4239-95bb-83d0f6d0da78} {8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}" \
    "$(grep -o '<compatibility .*</compatibility>' <<<"$manifest" | grep -o 'supportedOS Id="[^"]*"' | cut -d '"' -f 2 | paste -sd ' ')"
expect "manifest: DPI awareness per monitor (v2, then v1), dpiAware for older Windows" \
    "PerMonitorV2, PerMonitor true/pm" \
    "$(sed -n 's|.*<dpiAwareness[^>]*>\([^<]*\)</dpiAwareness>.*|\1|p' <<<"$manifest") $(sed -n 's|.*<dpiAware [^>]*>\([^<]*\)</dpiAware>.*|\1|p' <<<"$manifest")"

# Read by the reader the release uses, against the product table's values.
version=$("$release_sh" version-resource "$exe")
expect "version resource: product name, file version, its fixed part and language" \
    "ProductName=$(value_of name) FileVersion=$expected_version file-version=$expected_version.0 language=1033" \
    "$(for key in ProductName FileVersion file-version language; do
        echo "$key=$(sed -n "s/^$key=//p" <<<"$version")"; done | paste -sd ' ')"

[ "$failures" -eq 0 ]
