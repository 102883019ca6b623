#!/usr/bin/env bash
# Seeds of the structure walk fuzzer: small files of every walked format from
# the tools that are there and the committed samples, each behind the four
# bytes that choose the piece sizes.   seeds.sh ROOT SEED_FOLDER
set -euo pipefail
seeds=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
im=convert
for p in /usr/bin/convert-im6.q16 /usr/bin/convert; do [ -x "$p" ] && { im=$p; break; }; done
if command -v "$im" >/dev/null 2>&1; then
  "$im" -size 24x16 plasma:fractal "$work/a.ppm" || true
  while IFS='|' read -r opts name; do
    # shellcheck disable=SC2086
    case $name in *:*) target=${name%%:*}:$work/${name#*:} ;; *) target=$work/$name ;; esac
    "$im" -size 24x16 plasma:fractal $opts "$target" 2>/dev/null || true
  done <<'LIST'
|a.jpg
-interlace PNG|b.png
-colors 8|PNG8:c.png
|d.gif
-colors 16|BMP3:e.bmp
-colors 16|f.pcx
-endian MSB|g.tif
-define tiff:tile-geometry=16x16|h.tif
-compress jpeg|i.tif
LIST
fi
if command -v cjpeg >/dev/null 2>&1 && [ -e "$work/a.ppm" ]; then
  cjpeg -progressive -restart 1 -outfile "$work/p.jpg" "$work/a.ppm" || true
fi
# The other walked formats: sound, an archive, movies and program streams,
# and the committed samples (LibreOffice, ghostscript, ffmpeg).
if command -v sox >/dev/null 2>&1; then
  sox -n -r 44100 -c 1 -b 16 "$work/s.wav" synth 0.1 sine 440 || true
  if command -v lame >/dev/null 2>&1; then lame --quiet -b 64 "$work/s.wav" "$work/s.mp3" || true; fi
  if command -v zip >/dev/null 2>&1; then zip -q -j "$work/s.zip" "$work/s.wav" || true; fi
fi
if command -v ffmpeg >/dev/null 2>&1; then
  for v in m.mov m.mp4 m.mpg m.vob; do
    ffmpeg -loglevel error -f lavfi -i testsrc=duration=0.2:size=16x16:rate=25 "$work/$v" || true
  done
fi
cp "$1"/tests/scan/samples/*.{doc,xls,pdf,mp3,avi,wmv} "$work"/ 2>/dev/null || true
for f in "$work"/*; do
  [ -f "$f" ] || continue
  case "$f" in *.ppm) continue ;; esac
  { printf 'seed'; cat "$f"; } > "$seeds/$(basename "$f")"
done
