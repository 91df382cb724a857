#!/usr/bin/env bash
# Draws the banner (425 x 55, 24 bits per pixel) and the application icon (32 x 32) with ImageMagick.
# The results are committed beside this script; run it again only to change the pictures.
set -euo pipefail
cd "$(dirname "$0")"
im=/usr/bin/convert
bold=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
book=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf

# Faint concentric rings behind the logotype, then the logotype, then "Updating" at the right.
rings=()
for r in 10 18 26 34 42 50 58 66 74; do rings+=(-draw "circle 44,27 $((44 + r)),27"); done
$im -size 425x55 'gradient:#0b2a66-#081d4a' \
    -fill none -stroke 'rgba(255,255,255,0.10)' -strokewidth 2 "${rings[@]}" \
    -stroke none -fill white -draw 'polygon 30,40 44,12 58,40 51,40 44,26 37,40' \
    -font "$bold" -pointsize 22 -annotate +68+34 'Marrowtide' \
    -font "$book" -pointsize 10 -fill 'rgb(170,190,230)' -annotate +70+47 'security' \
    -font "$bold" -pointsize 18 -fill white -gravity east -annotate +14+0 'Updating' \
    -type TrueColor -define bmp:format=bmp3 BMP3:banner.bmp

$im -size 32x32 xc:none -fill '#0b2a66' -draw 'roundrectangle 1,1 30,30 6,6' \
    -stroke 'rgba(255,255,255,0.25)' -fill none -draw 'circle 16,17 16,5' \
    -stroke none -fill white -draw 'polygon 7,25 16,7 25,25 20,25 16,16 12,25' \
    -define icon:auto-resize=32 BrinsoUpdator.ico
