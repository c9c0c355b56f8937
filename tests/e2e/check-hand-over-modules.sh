#!/usr/bin/env bash
# Checks that a launch which hands over maps no library that the plain-C
# floor launcher does not, and nothing of the display, Direct3D, OpenGL, OLE,
# network or multimedia: those serve only the error box.
# Usage: check-hand-over-modules.sh Tessalune.exe FloorLauncher.exe
set -euo pipefail

modules="$(dirname "$0")/../../benchmark/modules.sh"
launcher=$("$modules" "$1")
floor=$("$modules" "$2")
failures=0

extra=$(comm -23 <(echo "$launcher") <(echo "$floor") | tr '\n' ' ')
if [ -n "$extra" ]; then
    echo "FAIL maps what the floor does not: $extra"
    failures=$((failures + 1))
else
    echo "ok   maps nothing the floor does not ($(echo "$launcher" | wc -l) modules)"
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
