#!/usr/bin/env bash
# Seeds of the NTFS record fuzzer: groups of four records of the committed
# image, as read from disk.   seeds.sh ROOT SEED_FOLDER
set -euo pipefail
root=$1 seeds=$2
command -v xz >/dev/null 2>&1 && command -v python3 >/dev/null 2>&1 || exit 1
image=$(mktemp)
trap 'rm -f "$image"' EXIT
xz -dc "$root/tests/ntfs/data/basic.img.xz" > "$image"
python3 - "$image" "$seeds" <<'PY'
import struct, sys
d = open(sys.argv[1], "rb").read()
bps, = struct.unpack_from("<H", d, 0x0B)
mft, = struct.unpack_from("<Q", d, 0x30)
base = mft * bps * d[0x0D]
for i in range(0, 128, 4):
    with open("%s/rec%03d" % (sys.argv[2], i), "wb") as f:
        f.write(bytes([0]) + d[base + i * 1024: base + (i + 4) * 1024])
PY
