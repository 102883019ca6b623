#!/usr/bin/env bash
# lying_media.sh BUILD_FOLDER [SCAN]: the media whose boot sectors lie, as a
# damaged or crafted card would (fresh mkfs images with one field raised past
# what the medium holds), each given to drive_record under GNU time; with
# SCAN also to scan_image (the whole Scan command); beside them The Sleuth
# Kit's fsstat on the same image, when it is installed. One line a program
# and image: the seconds and the peak memory, and what it made of the image.
set -euo pipefail
build=$(cd "${1:?usage: lying_media.sh BUILD_FOLDER [SCAN]}" && pwd)
scan=${2:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/lying-media-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
export PATH=$PATH:/usr/sbin

truncate -s 8M ntfs.img && mkntfs -F -Q -q -c 4096 ntfs.img >/dev/null 2>&1
truncate -s 8M exfat.img && mkfs.exfat exfat.img >/dev/null
mkfs.fat -C -F 16 -s 1 -i DEADBEEF fat16.img 2200 >/dev/null
convert -size 300x200 -seed 1 plasma:fractal -quality 90 photo.jpg
MTOOLS_SKIP_CHECK=1 mcopy -i fat16.img photo.jpg ::/PHOTO.JPG
MTOOLS_SKIP_CHECK=1 mdel -i fat16.img ::/PHOTO.JPG
truncate -s 4M ntfs4.img && mkntfs -F -Q -q ntfs4.img >/dev/null 2>&1
python3 - <<'PY'
import struct
def patch(src, dst, *fields):
    d = bytearray(open(src, 'rb').read())
    for fmt, at, v in fields:
        struct.pack_into(fmt, d, at, v)
    open(dst, 'wb').write(d)
# A 1 MiB FAT32 card whose boot claims 512 MiB of FAT and 0xFFFFFFF0 sectors.
b = bytearray(512); b[0:3] = b'\xEB\x58\x90'; b[3:11] = b'MSWIN4.1'
struct.pack_into('<H', b, 11, 512); b[13] = 1; struct.pack_into('<H', b, 14, 32); b[16] = 2; b[21] = 0xF8
struct.pack_into('<I', b, 32, 0xFFFFFFF0); struct.pack_into('<I', b, 36, 1048576)
struct.pack_into('<I', b, 44, 2); b[66] = 0x29; b[82:90] = b'FAT32   '; b[510:512] = b'\x55\xAA'
img = bytearray(1 << 20); img[0:512] = b; open('fat32-bigfat.img', 'wb').write(img)
patch('ntfs.img', 'ntfs-total-8x(2^40-1).img', ('<Q', 0x28, 8 * ((1 << 40) - 1)))
patch('ntfs.img', 'ntfs-total-8x2^36.img', ('<Q', 0x28, 8 << 36))
patch('ntfs.img', 'ntfs-cluster-0x90.img', ('<B', 13, 0x90))
patch('ntfs.img', 'ntfs-record-0xBC.img', ('<B', 0x40, 0xBC))
patch('ntfs4.img', 'ntfs-cluster-0x81.img', ('<B', 13, 0x81))
patch('ntfs4.img', 'ntfs-total-2^64-1.img', ('<Q', 0x28, (1 << 64) - 1))
patch('fat16.img', 'fat16-fat-58050.img', ('<H', 22, 58050))
x = bytearray(open('exfat.img', 'rb').read())
bps = 1 << x[108]; spc = 1 << x[109]; heap, count, root = struct.unpack_from('<III', x, 88)
off = (heap + (root - 2) * spc) * bps
at = next(off + i for i in range(0, spc * bps, 32) if x[off + i] == 0x81)
struct.pack_into('<I', x, 92, 0xFFFFFFF0); struct.pack_into('<Q', x, at + 24, (0xFFFFFFF0 + 7) // 8)
open('exfat-cluster-count.img', 'wb').write(x)
PY

for img in 'ntfs-total-8x(2^40-1)' 'ntfs-total-8x2^36' fat32-bigfat exfat-cluster-count ntfs-cluster-0x90 \
           ntfs-record-0xBC fat16-fat-58050 ntfs-cluster-0x81 'ntfs-total-2^64-1'; do
  status=0
  /usr/bin/time -f "%e %M" -o t.txt "$build/bench/drive_record" "$img.img" >rec.txt 2>err.txt || status=$?
  read -r secs kib < <(tail -1 t.txt)
  fs=$(sed -n 's/^FileSystem: //p' rec.txt)
  clusters=$(sed -n 's/^TotalClusters: //p' rec.txt)
  first=$(sed -n 's/^FirstDataSector: //p' rec.txt)
  [ "$status" -ne 0 ] && fs="(exit $status: $(tail -1 err.txt))"
  printf '%-24s drive_record %6.2f s %8d KiB  FileSystem "%s" FirstDataSector %s TotalClusters %s\n' \
    "$img" "$secs" "$kib" "$fs" "$first" "$clusters"
  if command -v fsstat >/dev/null 2>&1; then
    status=0
    /usr/bin/time -f "%e %M" -o t.txt fsstat "$img.img" >fsstat.txt 2>&1 || status=$?
    read -r secs kib < <(tail -1 t.txt)
    printf '%-24s fsstat       %6.2f s %8d KiB  exit %s: %s\n' "$img" "$secs" "$kib" "$status" \
      "$(grep -m1 -E '^File System Type|^Cannot|Error|error' fsstat.txt | cut -c1-60 || true)"
  fi
  if [ -n "$scan" ]; then
    rm -rf cache && mkdir cache
    status=0
    /usr/bin/time -f "%e %M" -o t.txt "$build/bench/scan_image" "$img.img" cache >scan.txt 2>&1 || status=$?
    read -r secs kib < <(tail -1 t.txt)
    printf '%-24s scan_image   %6.2f s %8d KiB  %s, %s\n' "$img" "$secs" "$kib" \
      "$(grep '^bytes scanned' scan.txt || echo "exit $status")" "$(grep '^found files' scan.txt || true)"
  fi
done
