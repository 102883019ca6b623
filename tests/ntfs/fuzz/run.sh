#!/usr/bin/env bash
# Builds the libFuzzer target for the NTFS record parsers with clang
# (AddressSanitizer and UBSan) and runs it.
#   run.sh SECONDS [BUILD_FOLDER]
# Exit code 77: no clang, or no libFuzzer run-time (Debian: libclang-rt-14-dev).
set -euo pipefail
seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
out=${2:-${TMPDIR:-/tmp}/fennick-fuzz}
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
mkdir -p "$out/corpus" "$out/seeds"
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)

# Can this clang link a fuzzer at all?
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' > "$out/probe.cpp"
if ! "$cxx" "${flags[@]}" "$out/probe.cpp" -o "$out/probe" >"$out/probe.log" 2>&1; then
  echo "$cxx cannot link -fsanitize=fuzzer (install libclang-rt-14-dev): fuzzing skipped"
  cat "$out/probe.log"
  exit 77
fi

"$cxx" "${flags[@]}" -I"$root" "$here/fuzz_records.cpp" "$root"/ntfs/*.cpp -o "$out/fuzz_records"

# Seeds: groups of four records of the committed image, as read from disk.
if command -v xz >/dev/null 2>&1 && command -v python3 >/dev/null 2>&1 && [ ! -e "$out/seeds.done" ]; then
  xz -dc "$root/tests/ntfs/data/basic.img.xz" > "$out/basic.img"
  python3 - "$out/basic.img" "$out/seeds" <<'PY'
import struct, sys
d = open(sys.argv[1], "rb").read()
bps, = struct.unpack_from("<H", d, 0x0B)
mft, = struct.unpack_from("<Q", d, 0x30)
base = mft * bps * d[0x0D]
for i in range(0, 128, 4):
    with open("%s/rec%03d" % (sys.argv[2], i), "wb") as f:
        f.write(bytes([0]) + d[base + i * 1024: base + (i + 4) * 1024])
PY
  rm -f "$out/basic.img"
  touch "$out/seeds.done"
fi

cd "$out"
exec ./fuzz_records -max_total_time="$seconds" -max_len=16400 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 corpus seeds
