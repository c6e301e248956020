#!/usr/bin/env bash
# Draws the programs' own icons with ImageMagick (64x64 PNG). Run again after changing a shape;
# the PNG files are kept in the repository so that builds do not need ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/../resources/icons"

icon() { # name background draw-commands...
    local name=$1 bg=$2; shift 2
    convert -size 64x64 xc:none -fill "$bg" -stroke none -draw 'roundrectangle 3,3 60,60 12,12' \
        -fill white -stroke white -strokewidth 5 "$@" -define png:exclude-chunk=date,time,tIME "PNG32:$name.png"
}
person=(-stroke none -draw 'circle 32,24 32,14' -draw 'ellipse 32,54 17,14 180,360')

icon add_contact '#2e8b57' "${person[@]}" -fill '#2e8b57' -draw 'circle 48,44 48,33' \
    -stroke white -strokewidth 4 -draw 'line 48,37 48,51' -draw 'line 41,44 55,44'
icon edit_contact '#2f6db5' "${person[@]}" -stroke '#ffd84d' -strokewidth 6 -draw 'line 38,52 56,34'
icon delete_contact '#c0392b' -draw 'line 20,20 44,44' -draw 'line 44,20 20,44'
icon contact '#5b6f82' "${person[@]}"
icon list_contact '#5b6f82' -stroke none -draw 'circle 32,22 32,13' -draw 'ellipse 32,52 16,13 180,360'
icon cancel '#c0392b' -fill none -draw 'circle 32,32 32,16' -draw 'line 21,43 43,21'
icon save '#2f6db5' -stroke none -draw 'rectangle 16,14 48,50' -fill '#2f6db5' \
    -draw 'rectangle 22,14 42,26' -fill white -draw 'rectangle 34,17 39,24'
icon map '#d35400' -stroke none -draw 'circle 32,26 32,12' -draw 'polygon 21,33 43,33 32,54' \
    -fill '#d35400' -draw 'circle 32,26 32,20'
icon mail '#8e44ad' -fill none -strokewidth 4 -draw 'rectangle 12,18 52,46' \
    -draw 'polyline 12,18 32,34 52,18'
icon web '#16a085' -fill none -strokewidth 4 -draw 'circle 32,32 32,12' \
    -draw 'ellipse 32,32 8,20 0,360' -draw 'line 12,32 52,32'
icon network '#2980b9' -strokewidth 4 -draw 'line 14,24 46,24' -draw 'polygon 46,16 54,24 46,32' \
    -draw 'line 18,42 50,42' -draw 'polygon 18,34 10,42 18,50'
icon settings '#7f8c8d' -fill none -strokewidth 8 -draw 'circle 32,32 32,18' \
    -strokewidth 6 -draw 'line 32,6 32,14' -draw 'line 32,50 32,58' \
    -draw 'line 6,32 14,32' -draw 'line 50,32 58,32'
icon print '#34495e' -stroke none -draw 'rectangle 20,12 44,26' -draw 'rectangle 10,28 54,46' \
    -fill '#34495e' -draw 'rectangle 18,38 46,46' -fill white -draw 'rectangle 20,40 44,54'
icon exit '#b03a2e' -fill none -strokewidth 5 -draw 'polyline 30,14 14,14 14,50 30,50' \
    -fill white -draw 'line 26,32 48,32' -draw 'polygon 44,24 54,32 44,40'
icon help '#2f6db5' -fill none -strokewidth 5 -draw 'arc 22,12 42,32 180,60' \
    -draw 'line 38,30 32,38' -draw 'line 32,38 32,42' -stroke none -fill white -draw 'circle 32,50 32,47'
# The search field draws this one at its natural size as its background: keep it small.
convert -size 12x12 xc:none -fill none -stroke '#5b6f82' -strokewidth 1.6 -draw 'circle 5,5 5,1.5' \
    -strokewidth 2 -draw 'line 7.5,7.5 11,11' -define png:exclude-chunk=date,time,tIME PNG32:search.png
icon pelicard '#1f7a8c' -stroke none -draw 'roundrectangle 10,16 54,48 5,5' -fill '#1f7a8c' \
    -draw 'circle 23,29 23,23' -draw 'ellipse 23,45 9,7 180,360' -stroke '#1f7a8c' \
    -strokewidth 3 -draw 'line 36,26 48,26' -draw 'line 36,33 48,33' -draw 'line 36,40 44,40'
icon server '#1f7a8c' -stroke none -draw 'roundrectangle 14,8 50,56 4,4' -fill '#1f7a8c' \
    -draw 'rectangle 19,14 45,22' -draw 'rectangle 19,28 45,36' -draw 'rectangle 19,42 45,50' \
    -fill '#7fe07f' -draw 'circle 41,18 41,16' -draw 'circle 41,32 41,30' -draw 'circle 41,46 41,44'
