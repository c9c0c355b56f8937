#!/usr/bin/env bash
# Draws the launcher's icon group: a crescent moon on a night-blue tile, at
# 48, 32 and 16 px in 16 and 256 colours, and at 128, 48, 32 and 16 px in
# 32-bit colour. Usage: draw-icon.sh OUTPUT.ico
set -euo pipefail

out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert -size 128x128 xc:none \
    -fill '#1f3b73' -draw 'roundrectangle 6,6 121,121 26,26' \
    -fill '#f4d35e' -draw 'circle 60,66 60,22' \
    -fill '#1f3b73' -draw 'circle 80,52 80,16' \
    -fill '#f4d35e' -draw 'circle 96,38 96,32' \
    "PNG32:$work/128.png"

# icotool silently writes 24-bit images when a PNG has more colours than the
# depth asked for, so the palette images get a binary mask and few colours.
for size in 48 32 16; do
    convert "$work/128.png" -resize "${size}x${size}" "PNG32:$work/$size.png"
    for colours in 16 256; do
        convert "$work/$size.png" -channel A -threshold 50% +channel -alpha background \
            +dither -colors $((colours - 1)) "PNG32:$work/$size-$colours.png"
    done
done

icotool -c -o "$out" \
    -b 4 "$work/48-16.png" -b 4 "$work/32-16.png" -b 4 "$work/16-16.png" \
    -b 8 "$work/48-256.png" -b 8 "$work/32-256.png" -b 8 "$work/16-256.png" \
    -b 32 "$work/128.png" -b 32 "$work/48.png" -b 32 "$work/32.png" -b 32 "$work/16.png"
