#!/usr/bin/env bash
# Builds the libFuzzer target for the picture structure walks with clang
# (AddressSanitizer and UBSan) and runs it on seeds made by the picture tools.
#   run.sh SECONDS [BUILD_FOLDER]
# Exit code 77: no clang, or no libFuzzer run-time (Debian: libclang-rt-14-dev).
set -euo pipefail
seconds=${1:-45}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
out=${2:-${TMPDIR:-/tmp}/walks-fuzz}
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

echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' > "$out/probe.cpp"
if ! "$cxx" "${flags[@]}" "$out/probe.cpp" -o "$out/probe" >"$out/probe.log" 2>&1; then
  echo "$cxx cannot link -fsanitize=fuzzer (install libclang-rt-14-dev): fuzzing skipped"
  cat "$out/probe.log"
  exit 77
fi

"$cxx" "${flags[@]}" -I"$root" "$here/fuzz_walks.cpp" "$root/scan/picturewalk.cpp" -o "$out/fuzz_walks"

# Seeds: small pictures of every walked format from the tools that are
# there, each behind the four bytes that choose the piece sizes.
if [ ! -e "$out/seeds.done" ]; then
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
  for f in "$work"/*; do
    [ -f "$f" ] || continue
    case "$f" in *.ppm) continue ;; esac
    { printf 'seed'; cat "$f"; } > "$out/seeds/$(basename "$f")"
  done
  touch "$out/seeds.done"
fi

cd "$out"
exec ./fuzz_walks -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 corpus seeds
