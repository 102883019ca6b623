#!/usr/bin/env bash
# make_gap_card.sh IMAGE [MOV|AVI] [COUNT] [MiB]: a camera card on which a
# movie was recorded into the gaps that deleted photos left. COUNT photos
# (default 100; JPEGs of about one megabyte made by cjpeg from random
# pixels, the EXIF of a camera and a thumbnail written by exiftool) are
# copied by mcopy onto a FAT16 image of MiB (default 512; 32 KiB clusters,
# serial DEADBEEF); every third one is deleted, and a movie of ffmpeg (720p
# noise: H.264 in a QuickTime MOV with its movie box last, or motion-JPEG in
# an AVI) about as large as the gaps together is copied after them. mtools
# fills the first free clusters first, so the movie lies in pieces with the
# photos between them. Then the card is formatted again in place ("quick
# format"). With PHOTOS=FOLDER set, the photos still on the card are kept
# there, to compare the found files with.
set -euo pipefail
image=${1:?usage: make_gap_card.sh IMAGE [MOV|AVI] [COUNT] [MiB]}
kind=${2:-MOV}
count=${3:-100}
mib=${4:-512}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/photos"
{ printf 'P6\n160 120\n255\n'; head -c $(( 160 * 120 * 3 )) /dev/urandom; } > "$work/t.ppm"
cjpeg -quality 80 -outfile "$work/thumb.jpg" "$work/t.ppm"
for ((i = 1; i <= count; i++)); do
  w=$(( 1180 + (i * 37) % 120 )); h=800
  { printf 'P6\n%d %d\n255\n' "$w" "$h"; head -c $(( w * h * 3 )) /dev/urandom; } > "$work/p.ppm"
  cjpeg -quality 93 -outfile "$work/photos/IMG_$(printf %04d "$i").JPG" "$work/p.ppm"
done
exiftool -q -overwrite_original -Make=Testcam -Model="T100" -DateTimeOriginal="2024:05:06 07:08:09" \
  "-ThumbnailImage<=$work/thumb.jpg" "$work/photos" >/dev/null
rm -f "$image"
mkfs.fat -C -F 16 -s 64 -i DEADBEEF "$image" $(( mib * 1024 )) > /dev/null
mcopy -i "$image" "$work"/photos/* ::/
gaps=0
for ((i = 3; i <= count; i += 3)); do
  f="IMG_$(printf %04d "$i").JPG"
  gaps=$(( gaps + $(stat -c %s "$work/photos/$f") ))
  mdel -i "$image" "::/$f"
  rm "$work/photos/$f"
done
src=(-f lavfi -i "testsrc2=size=1280x720:rate=25,noise=alls=60:allf=t+u:all_seed=7")
case $kind in
  MOV) movie=$work/MOVIE.MOV; args=(-c:v libx264 -preset ultrafast -b:v 12M -pix_fmt yuv420p) ;;
  AVI) movie=$work/MOVIE.AVI; args=(-c:v mjpeg -q:v 4) ;;
  *) echo "MOV or AVI" >&2; exit 2 ;;
esac
# A second of it first, to know its rate.
ffmpeg -loglevel fatal -y "${src[@]}" -t 1 "${args[@]}" "$movie"
seconds=$(( gaps / $(stat -c %s "$movie") + 1 ))
ffmpeg -loglevel fatal -y "${src[@]}" -t "$seconds" "${args[@]}" "$movie"
mcopy -i "$image" "$movie" ::/
pieces=$(mshowfat -i "$image" "::/$(basename "$movie")" | grep -o '<' | wc -l)
mkfs.fat -F 16 -s 64 -i DEADBEEF "$image" > /dev/null
if [ -n "${PHOTOS:-}" ]; then
  mkdir -p "$PHOTOS"
  cp "$work"/photos/* "$PHOTOS"/
fi
echo "$image: $(ls "$work/photos" | wc -l) photos on the card, $(du -cb "$work"/photos/* | tail -1 | cut -f1) bytes;" \
  "$(basename "$movie") of $(stat -c %s "$movie") bytes in $pieces pieces"
