#!/usr/bin/env bash
# Seeds of the structure walk fuzzer: small files of every walked format from
# the tools that are there, the committed samples and a few built by their
# formats, each behind the four bytes that choose the piece sizes.   seeds.sh ROOT SEED_FOLDER
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
  if command -v lame >/dev/null 2>&1; then
    lame --quiet -b 64 "$work/s.wav" "$work/s.mp3" || true
    lame --quiet -V 4 --add-id3v2 --tt Tone "$work/s.wav" "$work/v.mp3" || true
  fi
  if command -v zip >/dev/null 2>&1; then
    zip -q -j "$work/s.zip" "$work/s.wav" || true
    # Stored entries, and stored entries written to a pipe (with extra fields).
    zip -q -0 -j "$work/t.zip" "$work/s.wav" "$work/s.mp3" || true
    zip -q -0 - "$work/s.wav" < /dev/null > "$work/u.zip" || true
  fi
fi
if command -v ffmpeg >/dev/null 2>&1; then
  for v in m.mov m.mp4 m.mpg m.vob; do
    ffmpeg -loglevel error -f lavfi -i testsrc=duration=0.2:size=16x16:rate=25 "$work/$v" || true
  done
fi
cp "$1"/tests/scan/samples/*.{doc,xls,pdf,mp3,avi,wmv,jpg,tif} "$work"/ 2>/dev/null || true
# RAR 4 and RAR 5 archives of one stored file, and a compound file whose
# DIFAT sector lies behind the allocation sector it lists.
if command -v python3 >/dev/null 2>&1; then
  python3 - "$work" <<'PY' || true
import struct, sys, zlib
out, data = sys.argv[1], bytes(range(1, 256)) * 8
def b4(t, f, rest):
    tail = struct.pack('<BHH', t, f, 7 + len(rest)) + rest
    return struct.pack('<H', zlib.crc32(tail) & 0xFFFF) + tail
def v(n):
    b = bytearray()
    while True:
        b.append((n & 0x7F) | (0x80 if n > 0x7F else 0)); n >>= 7
        if not n: return bytes(b)
def b5(h):
    s = v(len(h)) + h
    return struct.pack('<I', zlib.crc32(s)) + s
f4 = struct.pack('<IIBIIBBHI', len(data), len(data), 3, zlib.crc32(data), 0, 20, 0x30, 5, 0x81A4) + b'a.txt'
open(out + '/r4.rar', 'wb').write(b'Rar!\x1a\x07\x00' + b4(0x73, 0, bytes(6)) + b4(0x74, 0x8000, f4) + data + b4(0x7B, 0x4000, b''))
f5 = v(2) + v(2) + v(len(data)) + v(4) + v(len(data)) + v(0x1A4) + struct.pack('<I', zlib.crc32(data)) + v(0) + v(1) + v(5) + b'b.txt'
open(out + '/r5.rar', 'wb').write(b'Rar!\x1a\x07\x01\x00' + b5(v(1) + v(0) + v(0)) + b5(f5) + data + b5(v(5) + v(0) + v(0)))
head = bytes.fromhex('D0CF11E0A1B11AE1') + bytes(16) + bytes.fromhex('3E000300FEFF0900060000000000000000000000')
head += struct.pack('<8I', 110, 111, 0, 0x1000, 0xFFFFFFFE, 0, 110, 1) + struct.pack('<109I', *range(109))
fat = b''.join(struct.pack('<I', 0xFFFFFFFD if k < 110 else 0xFFFFFFFC if k == 110 else 0xFFFFFFFE if k == 111 else 0xFFFFFFFF) for k in range(110 * 128))
difat = struct.pack('<I', 109) + b'\xff' * 504 + struct.pack('<I', 0xFFFFFFFE)
open(out + '/difat.doc', 'wb').write(head + fat + difat + bytes(512))
PY
  # A ZIP written to a pipe: every entry's sizes in its data descriptor.
  python3 -c "import sys, zipfile
with zipfile.ZipFile(sys.stdout.buffer, 'w') as z: z.writestr('a.txt', b'card ' * 900)" | cat > "$work/piped.zip" || true
fi
for f in "$work"/*; do
  [ -f "$f" ] || continue
  case "$f" in *.ppm) continue ;; esac
  { printf 'seed'; cat "$f"; } > "$seeds/$(basename "$f")"
done
