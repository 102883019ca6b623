#!/bin/sh
# make_huge_png.sh OUT.png [SIDE] : a true-colour PNG of SIDE x SIDE pixels
# (default 16000; a multiple of 32), drawn by ImageMagick: a plasma with a
# circle, its diagonals, a frame and its size written across the top, so that
# a fitted view of it is easy to tell. ImageMagick draws it at an eighth of
# the size and enlarges it in four strips (Debian's policy keeps its pixel
# cache under 1 GiB, less than the whole picture takes); netpbm joins the
# strips and writes the PNG line by line.
set -eu
out=$1
side=${2:-16000}
base=$((side / 8))
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
convert -size ${base}x${base} -seed 7 plasma:steelblue-orange \
    -fill none -stroke white -strokewidth $((base / 160)) \
    -draw "circle $((base / 2)),$((base / 2)) $((base / 2)),$((base * 7 / 40))" \
    -draw "line 0,0 $base,$base" -draw "line 0,$base $base,0" \
    -stroke black -strokewidth $((base / 320)) -draw "rectangle 3,3 $((base - 4)),$((base - 4))" \
    -fill white -strokewidth $((base / 640 + 1)) -pointsize $((base * 2 / 25)) -gravity north \
    -annotate +0+$((base * 3 / 50)) "$side x $side" "$tmp/small.png"
for r in 0 1 2 3; do
    convert "$tmp/small.png" -crop ${base}x$((base / 4))+0+$((r * base / 4)) +repage \
        -filter triangle -resize "${side}x$((side / 4))!" -depth 8 "$tmp/strip$r.ppm"
done
pamcat -tb "$tmp/strip0.ppm" "$tmp/strip1.ppm" "$tmp/strip2.ppm" "$tmp/strip3.ppm" | pnmtopng > "$out"
identify "$out"
