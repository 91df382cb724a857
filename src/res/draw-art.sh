#!/usr/bin/env bash
# Draws the banner (425 x 55 at 100 %, 24 bits per pixel) at each scale and the application icon (32 x 32)
# with ImageMagick.
# The results are committed beside this script; run it again only to change the pictures.
set -euo pipefail
cd "$(dirname "$0")"
im=/usr/bin/convert
bold=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
book=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf

# The banner at each scale the program ships: every length of the 100 % drawing (425 x 55) times the scale,
# rounded. Faint concentric rings behind the logotype, then the logotype, then "Updating" at the right.
# Each is kept gzip-compressed (the program inflates it): five pictures in less than one uncompressed.
banner() {
  local scale=$1 out=$2 rings=()
  s() { echo $((($1 * scale + 50) / 100)); }
  for r in 10 18 26 34 42 50 58 66 74; do rings+=(-draw "circle $(s 44),$(s 27) $(($(s 44) + $(s $r))),$(s 27)"); done
  $im -size "$(s 425)x$(s 55)" 'gradient:#0b2a66-#081d4a' \
      -fill none -stroke 'rgba(255,255,255,0.10)' -strokewidth "$(s 2)" "${rings[@]}" \
      -stroke none -fill white -draw "polygon $(s 30),$(s 40) $(s 44),$(s 12) $(s 58),$(s 40) $(s 51),$(s 40) $(s 44),$(s 26) $(s 37),$(s 40)" \
      -font "$bold" -pointsize "$(s 22)" -annotate "+$(s 68)+$(s 34)" 'Marrowtide' \
      -font "$book" -pointsize "$(s 10)" -fill 'rgb(170,190,230)' -annotate "+$(s 70)+$(s 47)" 'security' \
      -font "$bold" -pointsize "$(s 18)" -fill white -gravity east -annotate "+$(s 14)+0" 'Updating' \
      -type TrueColor -define bmp:format=bmp3 "BMP3:$out"
}
for scale in 100 125 150 200 300; do
  banner $scale "banner-$scale.bmp"
  gzip -9 -n -f "banner-$scale.bmp"
done

$im -size 32x32 xc:none -fill '#0b2a66' -draw 'roundrectangle 1,1 30,30 6,6' \
    -stroke 'rgba(255,255,255,0.25)' -fill none -draw 'circle 16,17 16,5' \
    -stroke none -fill white -draw 'polygon 7,25 16,7 25,25 20,25 16,16 12,25' \
    -define icon:auto-resize=32 BrinsoUpdator.ico
