#!/usr/bin/env bash
# Draws the three programs' icons (256 px, scaled down to 48, 32 and 16 in
# one .ico each) with ImageMagick. The .ico files are kept in the tree, so a
# build needs no ImageMagick; run this again only to change a picture.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# quaylink: a handheld terminal in its cradle, as in the main window.
convert -size 256x256 xc:none \
  -fill '#2c3440' -stroke '#14181e' -strokewidth 4 -draw 'roundrectangle 24,188 232,244 22,22' \
  -fill '#78dc78' -stroke none -draw 'circle 200,216 210,216' \
  -fill '#e8a42a' -stroke '#784610' -strokewidth 6 -draw 'roundrectangle 72,12 184,214 24,24' \
  -fill '#1e3c46' -stroke none -draw 'roundrectangle 90,34 166,104 8,8' \
  -stroke '#8cffc8' -strokewidth 6 -draw 'line 100,52 150,52' -draw 'line 100,70 136,70' -draw 'line 100,88 156,88' \
  -stroke none -fill '#5a3a10' \
  -draw 'circle 100,130 108,130' -draw 'circle 128,130 136,130' -draw 'circle 156,130 164,130' \
  -draw 'circle 100,158 108,158' -draw 'circle 128,158 136,158' -draw 'circle 156,158 164,158' \
  "$tmp/quaylink.png"

# formwright: a settings form with labelled fields and a tick.
convert -size 256x256 xc:none \
  -fill '#f4f6fa' -stroke '#3a4a66' -strokewidth 8 -draw 'roundrectangle 28,16 228,240 18,18' \
  -fill '#3a6ed0' -stroke none -draw 'roundrectangle 28,16 228,58 18,18' -draw 'rectangle 28,40 228,58' \
  -fill '#9aa6ba' -draw 'rectangle 52,84 100,100' -draw 'rectangle 52,132 100,148' -draw 'rectangle 52,180 100,196' \
  -fill white -stroke '#6a7890' -strokewidth 4 \
  -draw 'rectangle 112,78 204,106' -draw 'rectangle 112,126 204,154' -draw 'rectangle 112,174 204,202' \
  -stroke '#2a9a4a' -strokewidth 10 -fill none -draw 'polyline 124,140 140,150 168,118' \
  "$tmp/formwright.png"

# rowsmith: rows of a table becoming a file.
convert -size 256x256 xc:none \
  -fill white -stroke '#2e5a3a' -strokewidth 8 -draw 'roundrectangle 20,28 236,228 14,14' \
  -fill '#3c9a5a' -stroke none -draw 'roundrectangle 20,28 236,72 14,14' -draw 'rectangle 20,56 236,72' \
  -stroke '#8ab89a' -strokewidth 4 \
  -draw 'line 24,112 232,112' -draw 'line 24,152 232,152' -draw 'line 24,192 232,192' \
  -draw 'line 96,72 96,224' -draw 'line 166,72 166,224' \
  -fill '#e8a42a' -stroke none -draw 'rectangle 30,120 88,144' -draw 'rectangle 104,120 158,144' \
  -draw 'rectangle 174,120 226,144' \
  "$tmp/rowsmith.png"

for name in quaylink formwright rowsmith; do
  convert "$tmp/$name.png" -depth 8 -define icon:auto-resize=256,48,32,16 "$name.ico"
done
