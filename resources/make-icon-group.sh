#!/usr/bin/env bash
# Makes a launcher's icon group from its product's icon, a 128 by 128 PNG:
# 48, 32 and 16 px in 16 and 256 colours, and 128, 48, 32 and 16 px in 32-bit
# colour. Usage: make-icon-group.sh ICON.png OUTPUT.ico
set -euo pipefail

icon=$1
out=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

size=$(identify -format '%wx%h' "$icon")
[ "$size" = 128x128 ] || { echo "make-icon-group.sh: $icon is $size, not 128x128" >&2; exit 1; }
convert "$icon" "PNG32:$work/128.png"

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
