#!/usr/bin/env bash
# Seeds of the drive record fuzzer: the heads of fresh images, as mkfs makes
# them, each behind the two bytes of its unit count.   seeds.sh ROOT SEED_FOLDER
set -euo pipefail
seeds=$2
command -v python3 >/dev/null 2>&1 || exit 1
make_seed() {   # NAME IMAGE
  python3 - "$2" "$seeds/$1" <<'PY'
import os, sys
img, seed = sys.argv[1], sys.argv[2]
size = os.path.getsize(img)
units = min(2048, size // 4096) - 1
with open(img, "rb") as f, open(seed, "wb") as o:
    o.write(bytes([units & 0xFF, units >> 8]) + f.read(65536))
PY
}
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT
export PATH=$PATH:/usr/sbin
if command -v mkfs.fat >/dev/null 2>&1; then
  mkfs.fat -C --invariant -F 12 -s 1 "$t/f12.img" 160 >/dev/null && make_seed fat12 "$t/f12.img"
  mkfs.fat -C --invariant -F 16 -s 1 "$t/f16.img" 2200 >/dev/null && make_seed fat16 "$t/f16.img"
  mkfs.fat -C --invariant -F 32 -s 1 "$t/f32.img" 34000 >/dev/null 2>&1 && make_seed fat32 "$t/f32.img"
fi
if command -v mkfs.exfat >/dev/null 2>&1; then
  truncate -s 1M "$t/x.img"
  mkfs.exfat -b 4096 "$t/x.img" >/dev/null && make_seed exfat "$t/x.img"
fi
if command -v mkntfs >/dev/null 2>&1; then
  truncate -s 2M "$t/n.img"
  mkntfs -F -Q -q -c 4096 "$t/n.img" >/dev/null 2>&1 && make_seed ntfs "$t/n.img"
fi
exit 0
