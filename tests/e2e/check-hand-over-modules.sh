#!/usr/bin/env bash
# Checks that a launch which hands over maps no library beyond those a
# framework-free launcher maps under Wine (hand-over-modules.txt beside this
# check, the floor launcher's list, kept here so that a change to either
# launcher shows as a change to it), and nothing of the display, Direct3D,
# OpenGL, OLE, network or multimedia: those serve only the error box.
# Usage: check-hand-over-modules.sh LAUNCHER.exe
set -euo pipefail

here=$(dirname "$0")
launcher=$("$here/../support/modules.sh" "$1")
failures=0

extra=$(comm -23 <(echo "$launcher") "$here/hand-over-modules.txt" | tr '\n' ' ')
if [ -n "$extra" ]; then
    echo "FAIL maps what a framework-free launcher does not: $extra"
    failures=$((failures + 1))
else
    echo "ok   maps nothing a framework-free launcher does not ($(echo "$launcher" | wc -l) modules)"
fi

forbidden='^(winex11\.drv|wined3d|opengl32|dxgi|d3d[0-9]*|d2d1|dwrite|ole32|oleaut32|combase|rpcrt4|wininet|ws2_32|iphlpapi|winmm|msacm32|comctl32|comdlg32|uxtheme|dwmapi)(\.dll)?$'
touched=$(grep -E "$forbidden" <<<"$launcher" | tr '\n' ' ' || true)
if [ -n "$touched" ]; then
    echo "FAIL maps libraries only the error box needs: $touched"
    failures=$((failures + 1))
else
    echo "ok   maps no display, Direct3D, OpenGL, OLE, network or multimedia library"
fi

[ "$failures" -eq 0 ]
