#!/usr/bin/env bash
# make_music_card.sh IMAGE [COUNT] [MiB]: a card of songs and photos for the
# scan benchmarks. COUNT songs (default 40) of a minute each, two tones by
# sox, encoded by lame -V 4 (VBR: a tenth to a half of the frames at 48 kbps
# begin FF FB 30, a row of the scan table) with an ID3v2 tag, every other
# one with a cover (a camera's JPEG with EXIF) put into it by ffmpeg, each followed
# by a photo, are copied by mcopy onto a FAT32 image of MiB (default 256;
# 512-byte clusters, serial DEADBEEF), which is then formatted again in
# place ("quick format"). With SONGS=FOLDER set, the songs and photos are
# kept there, to compare the found files with.
set -euo pipefail
image=${1:?usage: make_music_card.sh IMAGE [COUNT] [MiB]}
count=${2:-40}
mib=${3:-256}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/files"
for ((i = 1; i <= count; i++)); do
  w=$(( 1180 + (i * 37) % 120 )); h=800
  { printf 'P6\n%d %d\n255\n' "$w" "$h"; head -c $(( w * h * 3 )) /dev/urandom; } > "$work/p.ppm"
  cjpeg -quality 93 -outfile "$work/files/IMG_$(printf %04d "$i").JPG" "$work/p.ppm"
done
exiftool -q -overwrite_original -Make=Testcam -Model="T100" -DateTimeOriginal="2024:05:06 07:08:09" \
  "$work/files" >/dev/null
for ((i = 1; i <= count; i++)); do
  song="$work/files/SONG_$(printf %04d "$i").MP3"
  sox -n -r 44100 -b 16 -c 2 "$work/s.wav" synth 60 sine $(( 400 + i * 3 )) sine $(( 600 + i * 5 ))
  lame --quiet -V 4 --add-id3v2 --tt "Song $i" --ta Card "$work/s.wav" "$work/s.mp3"
  if (( i % 2 )); then
    ffmpeg -loglevel error -y -i "$work/s.mp3" -i "$work/files/IMG_$(printf %04d "$i").JPG" -map 0 -map 1 -c copy \
      -id3v2_version 3 -metadata:s:v comment="Cover (front)" "$song"
  else
    mv "$work/s.mp3" "$song"
  fi
done
rm -f "$image"
mkfs.fat -C -F 32 -s 1 -i DEADBEEF "$image" $(( mib * 1024 )) > /dev/null
for ((i = 1; i <= count; i++)); do
  n=$(printf %04d "$i")
  mcopy -i "$image" "$work/files/SONG_$n.MP3" "$work/files/IMG_$n.JPG" ::/
done
mkfs.fat -F 32 -s 1 -i DEADBEEF "$image" > /dev/null
if [ -n "${SONGS:-}" ]; then
  mkdir -p "$SONGS"
  cp "$work"/files/* "$SONGS"/
fi
echo "$image: $count songs and $count photos, $(du -cb "$work"/files/* | tail -1 | cut -f1) bytes"
