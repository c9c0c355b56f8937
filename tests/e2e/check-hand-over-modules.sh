#!/usr/bin/env bash
# Checks that a launch which hands over maps exactly the modules that
# hand-over-modules.txt beside this check lists, each with the reason it is
# needed: a new module fails until it is justified there or no longer mapped,
# and a listed one the launch no longer maps must leave the list. Nothing of
# the display, Direct3D, OpenGL, OLE, network or multimedia may be mapped at
# all: those serve only the error box.
# Usage: check-hand-over-modules.sh PRODUCT   (its description: its launcher is checked)
set -euo pipefail

here=$(dirname "$0")
# shellcheck source=../support/expect.sh
source "$here/../support/expect.sh"
mapped=$("$here/../../harness/modules.sh" "$1")
justified=$(sed -e 's/#.*//' -e '/^\s*$/d' "$here/hand-over-modules.txt" | awk '{ print $1 }' | sort -u)

expect "mapped but not justified in hand-over-modules.txt" "" "$(comm -23 <(echo "$mapped") <(echo "$justified") | paste -sd ' ')"
expect "justified in hand-over-modules.txt but no longer mapped" "" \
    "$(comm -13 <(echo "$mapped") <(echo "$justified") | paste -sd ' ')"
forbidden='^(winex11\.drv|wined3d|opengl32|dxgi|d3d[0-9]*|d2d1|dwrite|ole32|oleaut32|combase|rpcrt4|wininet|ws2_32|iphlpapi|winmm|msacm32|comctl32|comdlg32|uxtheme|dwmapi)(\.dll)?$'
expect "libraries only the error box needs" "" "$(grep -E "$forbidden" <<<"$mapped" | paste -sd ' ' || true)"

[ "$failures" -eq 0 ]
