#!/usr/bin/env bash
# make_undelete_images.sh KIND IMAGE: the images of the undelete benchmark.
#   fat32  100 folders of 10 folders of 100 files (100,000 files of 1 to 3 KB,
#          1,100 folders) by mcopy on a 1 GiB FAT32 image (4 KiB clusters);
#          then a fifth of the files, 20 in every folder, deleted by mdel.
#   ntfs   a 1 GiB NTFS image (mkntfs) holding 100,000 small files written
#          through an ntfs-3g mount (needs root and FUSE), then 20,000 of
#          them deleted: its MFT holds about 100,000 records.
#   big    a 1.5 GiB FAT32 image with 200 files of 5 MiB of random bytes in
#          10 folders, all deleted by mdel: 1000 MiB to save.
set -euo pipefail
kind=${1:?usage: make_undelete_images.sh fat32|ntfs|big IMAGE}
image=${2:?usage: make_undelete_images.sh fat32|ntfs|big IMAGE}
export MTOOLS_SKIP_CHECK=1
work=$(mktemp -d)
trap 'mountpoint -q "$work/mnt" 2>/dev/null && umount "$work/mnt"; rm -rf "$work"' EXIT

tree() {   # root folders subfolders files bytes-from bytes-span
  local root=$1 top=$2 sub=$3 files=$4 from=$5 span=$6
  python3 - "$root" "$top" "$sub" "$files" "$from" "$span" <<'EOF'
import os, random, sys
root, top, sub, files, lo, span = sys.argv[1], *map(int, sys.argv[2:])
rnd = random.Random(1)
for d in range(top):
    for s in range(sub):
        folder = os.path.join(root, "D%03d" % d, "S%d" % s)
        os.makedirs(folder, exist_ok=True)
        for f in range(files):
            with open(os.path.join(folder, "F%03d.JPG" % f), "wb") as out:
                out.write(rnd.randbytes(lo + rnd.randrange(span)))
EOF
}

case $kind in
fat32)
  rm -f "$image"
  mkfs.fat -C -F 32 -s 8 -i DEADBEEF -n CARD "$image" 1048576 >/dev/null
  tree "$work/files" 100 10 100 1024 2048
  mcopy -s -i "$image" "$work"/files/* ::/
  pats=()
  for d in $(seq -f %03g 0 99); do for s in $(seq 0 9); do
    pats+=("::/D$d/S$s/F00*.JPG" "::/D$d/S$s/F01*.JPG")
  done; done
  mdel -i "$image" "${pats[@]}"
  ;;
ntfs)
  rm -f "$image"
  truncate -s 1G "$image"
  mkntfs -F -f -q "$image"
  mkdir "$work/mnt"
  ntfs-3g "$image" "$work/mnt"
  tree "$work/mnt" 100 10 100 100 2048
  for d in $(seq -f %03g 0 99); do for s in $(seq 0 9); do
    rm -f "$work/mnt/D$d/S$s"/F00*.JPG "$work/mnt/D$d/S$s"/F01*.JPG
  done; done
  umount "$work/mnt"
  ;;
big)
  rm -f "$image"
  mkfs.fat -C -F 32 -s 8 -i DEADBEEF -n CARD "$image" 1572864 >/dev/null
  tree "$work/files" 10 1 20 5242880 1
  mcopy -s -i "$image" "$work"/files/* ::/
  mdel -i "$image" $(for d in $(seq -f %03g 0 9); do echo "::/D$d/S0/*.JPG"; done)
  ;;
*)
  echo "unknown kind $kind" >&2
  exit 2
  ;;
esac
