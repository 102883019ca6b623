#!/bin/sh
# make_thumbs_cache.sh CACHEDIR [COUNT] [nothumbs] : a cache of COUNT
# (default 1000) found JPEG files of 12 megapixels (4000 x 3000) as a camera
# writes them: a camera's EXIF block with its 160 x 120 thumbnail (none with
# "nothumbs"). Ten different pictures (ImageMagick plasma with noise, about
# 5 MB each) are repeated under the found-file names R#0001.jpg ... in
# CACHEDIR/RIVozud/.
set -eu
dir=$1
count=${2:-1000}
thumbs=yes
[ "${3:-}" = nothumbs ] && thumbs=no
cache="$dir/RIVozud"
mkdir -p "$cache"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
i=0
while [ $i -lt 10 ]; do
    convert -seed $((i + 1)) -size 4000x3000 plasma:fractal -blur 0x1 -attenuate 0.3 +noise Gaussian \
        -quality 92 "$work/p$i.jpg"
    convert "$work/p$i.jpg" -thumbnail 160x120 "$work/t$i.jpg"
    set -- -IFD0:Make=Canon "-IFD0:Model=Canon EOS 450D" -ExifIFD:DateTimeOriginal="2009:03:12 13:45:1$i"
    [ $thumbs = yes ] && set -- "$@" "-ThumbnailImage<=$work/t$i.jpg"
    exiftool -q -overwrite_original "$@" "$work/p$i.jpg"
    i=$((i + 1))
done
n=1
while [ $n -le "$count" ]; do
    cp "$work/p$((n % 10)).jpg" "$cache/$(printf 'R#%04d.jpg' $n)"
    n=$((n + 1))
done
echo "$count files in $cache"
