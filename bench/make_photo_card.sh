#!/usr/bin/env bash
# make_photo_card.sh IMAGE [COUNT] [MiB]: a camera card for the scan
# benchmarks. COUNT photos of about one megabyte (default 950; JPEGs made by
# cjpeg from random pixels, with the EXIF of a camera written by exiftool)
# are copied by mcopy into DCIM/100CAMERA on a FAT32 image of MiB (default
# 1024; 4 KiB clusters, serial DEADBEEF), which is then formatted again in
# place ("quick format"): the photos stay where they were written, the
# folder's own clusters among them. With PHOTOS=FOLDER set, the photos are
# kept there, to compare the found files with.
set -euo pipefail
image=${1:?usage: make_photo_card.sh IMAGE [COUNT] [MiB]}
count=${2:-950}
mib=${3:-1024}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/photos"
for ((i = 1; i <= count; i++)); do
  w=$(( 1180 + (i * 37) % 120 )); h=800
  { printf 'P6\n%d %d\n255\n' "$w" "$h"; head -c $(( w * h * 3 )) /dev/urandom; } > "$work/p.ppm"
  cjpeg -quality 93 -outfile "$work/photos/IMG_$(printf %04d "$i").JPG" "$work/p.ppm"
done
exiftool -q -overwrite_original -Make=Testcam -Model="T100" -DateTimeOriginal="2024:05:06 07:08:09" \
  "$work/photos" >/dev/null
rm -f "$image"
mkfs.fat -C -F 32 -s 8 -i DEADBEEF "$image" $(( mib * 1024 )) > /dev/null
mmd -i "$image" ::/DCIM ::/DCIM/100CAMERA
mcopy -i "$image" "$work"/photos/* ::/DCIM/100CAMERA/
mkfs.fat -F 32 -s 8 -i DEADBEEF "$image" > /dev/null
if [ -n "${PHOTOS:-}" ]; then
  mkdir -p "$PHOTOS"
  cp "$work"/photos/* "$PHOTOS"/
fi
echo "$image: $count photos, $(du -cb "$work"/photos/* | tail -1 | cut -f1) bytes"
