#!/usr/bin/env bash
# make_card.sh IMAGE [MiB]: a card image for the scan benchmarks. A FAT32
# image (8-sector clusters from 300 MiB on, else 1; serial DEADBEEF) is filled by mcopy with pictures,
# sound and ZIP files made by ImageMagick, sox and zip, and PDF files, from
# random content (so they do not shrink), the JPEG files tagged with a camera's
# EXIF block by exiftool, then formatted again in place so that no
# directory knows them; the files stay where they were written. Default size
# 1024 MiB, filled to about nine tenths.
set -euo pipefail
image=${1:?usage: make_card.sh IMAGE [MiB]}
mib=${2:-1024}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/files"

budget=$(( mib * 1024 * 1024 * 9 / 10 ))
used=0
n=0
add() {   # file
  local size
  size=$(stat -c %s "$1")
  used=$(( used + size ))
  n=$(( n + 1 ))
}
while [ "$used" -lt "$budget" ]; do
  k=$(( n % 6 ))
  f="$work/files/F$(printf %04d "$n")"
  case $k in
    0|1) w=$(( 1200 + (n * 37) % 2400 )); h=$(( w * 2 / 3 ))
         convert -size "${w}x${h}" xc: +noise Random -quality 90 "$f.jpg"; add "$f.jpg" ;;
    2)   convert -size 900x600 xc: +noise Random "$f.png"; add "$f.png" ;;
    3)   sox -n -r 44100 -c 2 -b 16 "$f.wav" synth $(( 5 + n % 20 )) whitenoise vol 0.5; add "$f.wav" ;;
    4)   head -c $(( 300000 + (n * 7919) % 3000000 )) /dev/urandom > "$work/blob"
         (cd "$work" && zip -q -0 "$f.zip" blob); add "$f.zip" ;;
    5)   len=$(( 200000 + (n * 104729) % 1500000 ))
         { printf '%%PDF-1.4\n1 0 obj << /Length %d >> stream\n' "$len"; head -c "$len" /dev/urandom
           printf '\nendstream endobj\ntrailer << /Root 1 0 R >>\n%%%%EOF\n'; } > "$f.pdf"; add "$f.pdf" ;;
  esac
done

# The pictures carry a camera's EXIF block, as a card's photos do.
if command -v exiftool > /dev/null && ls "$work"/files/*.jpg > /dev/null 2>&1; then
  exiftool -q -overwrite_original -IFD0:Make=Canon "-IFD0:Model=Canon EOS 5D" -ExifIFD:ExposureTime=1/125 \
    -ExifIFD:FNumber=5.6 -ExifIFD:FocalLength=35 -ExifIFD:ISO=200 "-ExifIFD:DateTimeOriginal=2009:03:12 13:45:10" \
    "$work"/files/*.jpg
fi

rm -f "$image"
# FAT32 needs 65525 clusters: small images get 512-byte clusters.
spc=8
[ "$mib" -lt 300 ] && spc=1
mkfs.fat -C -F 32 -s "$spc" -i DEADBEEF "$image" $(( mib * 1024 )) > /dev/null
mcopy -i "$image" "$work"/files/* ::/
mkfs.fat -F 32 -s "$spc" -i DEADBEEF "$image" > /dev/null
echo "$image: $n files, $used bytes"
