#!/usr/bin/env bash
# compare_scan.sh BUILD IMAGE [TYPES] [FOREMOST_TYPES] [RUNS] [ORIGINALS]: the
# scan beside cp and foremost on one card image, one run after the other,
# each command timed with the sync of what it wrote. Run it in the folder
# that should hold the copy, the foremost output and the cache (tmpfs for
# the figures of the README). TYPES as scan_image takes them ("JPG");
# FOREMOST_TYPES as foremost -t takes them ("jpg"). ORIGINALS: a folder of
# the files copied onto the card; the found files that are byte for byte
# one of them are counted.
set -euo pipefail
build=${1:?usage: compare_scan.sh BUILD IMAGE [TYPES] [FOREMOST_TYPES] [RUNS] [ORIGINALS]}
image=${2:?usage: compare_scan.sh BUILD IMAGE [TYPES] [FOREMOST_TYPES] [RUNS] [ORIGINALS]}
types=${3:-}
ftypes=${4:-jpg}
runs=${5:-5}
originals=${6:-}
cat "$image" > /dev/null   # into the page cache
timed() { /usr/bin/time -f %e sh -c "$1 && sync" 2>&1 >/dev/null | tail -1; }
for ((i = 1; i <= runs; i++)); do
  rm -rf copy.img foremost-out scan-cache
  c=$(timed "cp '$image' copy.img")
  f=$(timed "foremost -q -t $ftypes -i '$image' -o foremost-out")
  s=$(timed "'$build/bench/scan_image' '$image' scan-cache $types > scan.log 2>&1")
  echo "cp $c s  foremost $f s  scan_image $s s ($(grep -E '^(command seconds|seconds|finishing pass seconds|found files):' scan.log \
    | sed 's/ seconds//' | tr '\n' ' '))"
done
if [ -n "$originals" ]; then
  python3 - "$originals" scan-cache/RIVozud foremost-out <<'PY'
import hashlib, os, sys
def digests(d):
    out = set()
    for root, _, files in os.walk(d):
        for f in files:
            with open(os.path.join(root, f), 'rb') as fh:
                out.add(hashlib.sha256(fh.read()).hexdigest())
    return out
orig = digests(sys.argv[1])
for name, d in (("scan", sys.argv[2]), ("foremost", sys.argv[3])):
    print(f"{name}: {len(orig & digests(d))} of {len(orig)} originals byte for byte")
PY
fi
rm -rf copy.img foremost-out
