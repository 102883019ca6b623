#!/usr/bin/env bash
# Builds the libFuzzer target for the drive record from a memory image with
# clang (AddressSanitizer and UBSan) and runs it.
#   run.sh SECONDS [BUILD_FOLDER]
# Exit code 77: no clang, no libFuzzer run-time (Debian: libclang-rt-14-dev),
# or no Qt 6 or libblkid for pkg-config.
set -euo pipefail
seconds=${1:-45}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
out=${2:-${TMPDIR:-/tmp}/driverecord-fuzz}
cxx=${FUZZ_CXX:-}
if [ -z "$cxx" ]; then
  for c in clang++ clang++-14; do
    if command -v "$c" >/dev/null 2>&1; then cxx=$c; break; fi
  done
fi
if [ -z "$cxx" ]; then
  echo "clang++ not found: fuzzing skipped"
  exit 77
fi
if ! pkg-config --exists Qt6Core blkid; then
  echo "pkg-config knows no Qt6Core or blkid: fuzzing skipped"
  exit 77
fi
mkdir -p "$out/corpus" "$out/seeds" "$out/obj"
flags=(-std=c++20 -g -O1 -fPIC -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
link=(-fsanitize=fuzzer,address,undefined)

echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' > "$out/probe.cpp"
if ! "$cxx" -fsanitize=fuzzer,address,undefined "$out/probe.cpp" -o "$out/probe" >"$out/probe.log" 2>&1; then
  echo "$cxx cannot link -fsanitize=fuzzer (install libclang-rt-14-dev): fuzzing skipped"
  cat "$out/probe.log"
  exit 77
fi

# The layer, the library, the drive record and the scan's units, four at a time.
read -r -a cflags <<<"$(pkg-config --cflags Qt6Core blkid)"
read -r -a libs <<<"$(pkg-config --libs Qt6Core blkid)"
sources=("$root"/platform/*.cpp "$root"/ntfs/*.cpp "$root"/drive/driveinfo.cpp "$root"/drive/sectors.cpp
         "$root"/drive/bitmap.cpp "$root"/drive/fat.cpp "$root"/scan/unitgeometry.cpp "$here/fuzz_driverecord.cpp")
objects=()
for src in "${sources[@]}"; do
  obj="$out/obj/$(echo "${src#"$root"/}" | tr / _).o"
  objects+=("$obj")
  "$cxx" "${flags[@]}" -I"$root" "${cflags[@]}" -c "$src" -o "$obj" &
  while [ "$(jobs -rp | wc -l)" -ge 4 ]; do wait -n; done
done
wait
"$cxx" "${link[@]}" "${objects[@]}" "${libs[@]}" -o "$out/fuzz_driverecord"

# Seeds: the heads of fresh images, as mkfs makes them.
if command -v python3 >/dev/null 2>&1 && [ ! -e "$out/seeds.done" ]; then
  make_seed() {   # NAME IMAGE
    python3 - "$2" "$out/seeds/$1" <<'PY'
import os, sys
img, seed = sys.argv[1], sys.argv[2]
size = os.path.getsize(img)
units = min(2048, size // 4096) - 1
with open(img, "rb") as f, open(seed, "wb") as o:
    o.write(bytes([units & 0xFF, units >> 8]) + f.read(65536))
PY
  }
  t="$out/tmp"; mkdir -p "$t"
  mkfs=$(command -v mkfs.fat || echo /usr/sbin/mkfs.fat)
  if [ -x "$mkfs" ]; then
    rm -f "$t"/f*.img
    "$mkfs" -C --invariant -F 12 -s 1 "$t/f12.img" 160 >/dev/null && make_seed fat12 "$t/f12.img"
    "$mkfs" -C --invariant -F 16 -s 1 "$t/f16.img" 2200 >/dev/null && make_seed fat16 "$t/f16.img"
    "$mkfs" -C --invariant -F 32 -s 1 "$t/f32.img" 34000 >/dev/null 2>&1 && make_seed fat32 "$t/f32.img"
  fi
  if command -v mkfs.exfat >/dev/null 2>&1 || [ -x /usr/sbin/mkfs.exfat ]; then
    rm -f "$t/x.img"; truncate -s 1M "$t/x.img"
    PATH=$PATH:/usr/sbin mkfs.exfat -b 4096 "$t/x.img" >/dev/null && make_seed exfat "$t/x.img"
  fi
  if command -v mkntfs >/dev/null 2>&1 || [ -x /usr/sbin/mkntfs ]; then
    rm -f "$t/n.img"; truncate -s 2M "$t/n.img"
    PATH=$PATH:/usr/sbin mkntfs -F -Q -q -c 4096 "$t/n.img" >/dev/null 2>&1 && make_seed ntfs "$t/n.img"
  fi
  rm -rf "$t"
  touch "$out/seeds.done"
fi

cd "$out"
exec ./fuzz_driverecord -max_total_time="$seconds" -max_len=65538 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 corpus seeds
