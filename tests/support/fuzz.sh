#!/usr/bin/env bash
# Builds a libFuzzer target with clang (AddressSanitizer and UBSan) and runs it.
#   fuzz.sh NAME SECONDS FOLDER MAX_LEN [--pkg "MODULES"] [--seeds SCRIPT] SOURCE...
# NAME is the program made in FOLDER; the SOURCEs (paths below the checkout,
# patterns allowed) are compiled four at a time, with the pkg-config flags of
# MODULES. SCRIPT, run as `SCRIPT ROOT SEED_FOLDER` until it has once
# succeeded, makes the seeds. The corpus grows in FOLDER/corpus between runs.
# Exit code 77: no clang, no libFuzzer run-time (Debian: libclang-rt-14-dev),
# or no pkg-config MODULES.
set -euo pipefail
name=$1 seconds=$2 out=$3 maxlen=$4
shift 4
root=$(cd "$(dirname "$0")/../.." && pwd)
modules="" seeds=""
while [ $# -gt 0 ]; do
  case $1 in
    --pkg) modules=$2; shift 2 ;;
    --seeds) seeds=$2; shift 2 ;;
    *) break ;;
  esac
done

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
cflags=() libs=()
if [ -n "$modules" ]; then
  # shellcheck disable=SC2086
  if ! pkg-config --exists $modules; then
    echo "pkg-config knows no $modules: fuzzing skipped"
    exit 77
  fi
  read -r -a cflags <<<"$(pkg-config --cflags $modules)"
  read -r -a libs <<<"$(pkg-config --libs $modules)"
fi
mkdir -p "$out/corpus" "$out/seeds" "$out/obj"
flags=(-std=c++20 -g -O1 -fPIC -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
link=(-fsanitize=fuzzer,address,undefined)

# Can this clang link a fuzzer at all?
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' > "$out/probe.cpp"
if ! "$cxx" "${link[@]}" "$out/probe.cpp" -o "$out/probe" >"$out/probe.log" 2>&1; then
  echo "$cxx cannot link -fsanitize=fuzzer (install libclang-rt-14-dev): fuzzing skipped"
  cat "$out/probe.log"
  exit 77
fi

objects=()
for pattern in "$@"; do
  for src in "$root"/$pattern; do
    obj="$out/obj/$(echo "${src#"$root"/}" | tr / _).o"
    objects+=("$obj")
    "$cxx" "${flags[@]}" -I"$root" "${cflags[@]}" -c "$src" -o "$obj" &
    while [ "$(jobs -rp | wc -l)" -ge 4 ]; do wait -n; done
  done
done
while [ "$(jobs -rp | wc -l)" -gt 0 ]; do wait -n; done
"$cxx" "${link[@]}" "${objects[@]}" "${libs[@]}" -o "$out/$name"

if [ -n "$seeds" ] && [ ! -e "$out/seeds.done" ] && bash "$seeds" "$root" "$out/seeds"; then
  touch "$out/seeds.done"
fi

cd "$out"
exec "./$name" -max_total_time="$seconds" -max_len="$maxlen" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 corpus seeds
