#!/usr/bin/env bash
# make-artwork.sh OUTDIR: draws the PIN pad library's pictures with ImageMagick: the library
# icon (pinpad.ico, 16/32/48 pixels), the keyboard button picture (Keyboard_UP.bmp), the
# waiting window's picture with an alpha channel (DisplayProcKOBA.png), the three pictures of
# the device confirmation (Q2I/Q2K/Q2J_KOBA.bmp) and the management tool's logo.
set -euo pipefail
out=$1
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert=/usr/bin/convert

# The icon: a key's bow and blade in white on a rounded blue square.
$convert -size 256x256 xc:none -fill '#1f5fa8' -draw 'roundrectangle 8,8 248,248 40,40' \
  -fill none -stroke white -strokewidth 22 -draw 'circle 88,128 88,76' \
  -stroke none -fill white -draw 'rectangle 136,116 222,140' \
  -draw 'rectangle 186,140 202,172' -draw 'rectangle 160,140 174,164' "$tmp/icon.png"
for s in 16 32 48; do
  $convert "$tmp/icon.png" -resize ${s}x${s} "$tmp/icon$s.png"
done
$convert "$tmp/icon16.png" "$tmp/icon32.png" "$tmp/icon48.png" "$out/pinpad.ico"

# The keyboard button: a small keyboard, keys on a grey body, 32x18 pixels, 24-bit.
$convert -size 32x18 xc:'#f0f0f0' -fill '#5a5a5a' -draw 'roundrectangle 1,2 30,15 2,2' \
  -fill white \
  -draw 'rectangle 4,5 6,6' -draw 'rectangle 9,5 11,6' -draw 'rectangle 14,5 16,6' \
  -draw 'rectangle 19,5 21,6' -draw 'rectangle 24,5 26,6' \
  -draw 'rectangle 5,9 7,10' -draw 'rectangle 10,9 12,10' -draw 'rectangle 15,9 17,10' \
  -draw 'rectangle 20,9 22,10' -draw 'rectangle 25,9 27,10' \
  -draw 'rectangle 8,12 23,13' -type TrueColor "BMP3:$out/Keyboard_UP.bmp"

# The waiting window's picture: a key with a soft shadow, with transparency.
$convert -size 96x64 xc:none \
  -fill '#00000030' -draw 'roundrectangle 6,10 92,60 12,12' \
  -fill '#1f5fa8' -draw 'roundrectangle 2,4 88,54 12,12' \
  -fill none -stroke white -strokewidth 6 -draw 'circle 24,29 24,16' \
  -stroke none -fill white -draw 'rectangle 38,26 78,32' -draw 'rectangle 66,32 72,42' \
  -draw 'rectangle 54,32 59,39' "PNG32:$out/DisplayProcKOBA.png"

# The three pictures of the device confirmation: the key with its display (Q2I), an arrow
# (Q2K) and the key with its OK button pressed (Q2J); 24-bit on the button-face grey.
key_body=(-fill '#1f5fa8' -draw 'roundrectangle 4,6 116,62 10,10'
  -fill '#d8e8d0' -draw 'rectangle 14,14 70,40' -fill '#333333' -draw 'rectangle 18,22 60,24'
  -draw 'rectangle 18,30 50,32' -fill '#c0c0c0' -draw 'rectangle 116,24 124,44')
$convert -size 126x66 xc:'#f0f0f0' "${key_body[@]}" -fill '#e0e0e0' -draw 'circle 88,27 88,21' \
  -draw 'circle 100,47 100,41' -type TrueColor "BMP3:$out/Q2I_KOBA.bmp"
$convert -size 80x66 xc:'#f0f0f0' -fill '#3a8a3a' -draw 'rectangle 6,28 52,38' \
  -draw 'polygon 50,18 74,33 50,48' -type TrueColor "BMP3:$out/Q2K_KOBA.bmp"
$convert -size 126x70 xc:'#f0f0f0' "${key_body[@]}" -fill '#37b24d' -draw 'circle 88,27 88,20' \
  -fill '#e0e0e0' -draw 'circle 100,47 100,41' -fill none -stroke '#37b24d' -strokewidth 2 \
  -draw 'circle 88,27 88,15' -type TrueColor "BMP3:$out/Q2J_KOBA.bmp"

# The management tool's logo on its key page: the icon's key beside a band.
$convert -size 96x96 xc:'#f0f0f0' -fill '#1f5fa8' -draw 'roundrectangle 4,4 92,92 16,16' \
  -fill none -stroke white -strokewidth 9 -draw 'circle 34,48 34,28' \
  -stroke none -fill white -draw 'rectangle 52,43 84,53' -draw 'rectangle 72,53 78,66' \
  -draw 'rectangle 62,53 67,62' -type TrueColor "BMP3:$out/ToolKOBALogo.bmp"
