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
#   aged   a camera card of twelve rounds of shots, each into a folder of its
#          own (DCIM/100CAM ... 111CAM): 40 photos (twelve pictures by
#          ImageMagick, two in three with a camera's EXIF block by exiftool
#          in place of JFIF, the rest JFIF only) and two voice memos (.AMR,
#          random bytes: a type without a signature), then half the round's
#          photos deleted (the last round's memos too). FAT32 of 1.1 GiB
#          with 16 KiB clusters; mtools takes free clusters from its hint
#          on, after the last cluster it took, as a camera does, so the
#          later rounds go round the card into the clusters the first ones
#          freed (in pieces where a gap is too small). IMAGE.md5 gives the
#          MD5 of every file copied in (md5sum's form, with its path on the
#          card).
set -euo pipefail
kind=${1:?usage: make_undelete_images.sh fat32|ntfs|big|aged IMAGE}
image=${2:?usage: make_undelete_images.sh fat32|ntfs|big|aged IMAGE}
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
aged)
  rm -f "$image" "$image.md5"
  mkfs.fat -C -F 32 -s 32 -i DEADBEEF -n CARD "$image" 1153434 >/dev/null
  for i in $(seq 0 11); do
    w=$((2400 + i * 160))
    convert -seed $((i + 1)) -size ${w}x$((w * 3 / 4)) plasma:fractal -blur 0x1 -attenuate 0.3 \
      +noise Gaussian -quality 92 "$work/p$i.jpg"
    [ $((i % 3)) -eq 2 ] || exiftool -q -overwrite_original -JFIF:all= -IFD0:Make=Canon \
      "-IFD0:Model=Canon EOS 450D" "$work/p$i.jpg"
  done
  python3 -c '
import random, sys
rnd = random.Random(2)
for m in range(24):
    with open("%s/m%d.amr" % (sys.argv[1], m), "wb") as out:
        out.write(rnd.randbytes(60000 + rnd.randrange(200000)))
' "$work"
  mmd -i "$image" ::/DCIM
  n=0
  for r in $(seq 0 11); do
    dir=::/DCIM/$((100 + r))CAM
    mmd -i "$image" "$dir"
    rm -rf "$work/round"
    mkdir "$work/round"
    files=() gone=()
    for k in $(seq 0 41); do
      if [ "$k" -ge 40 ]; then
        name=$(printf 'MEMO%04d.AMR' $n)
        cp "$work/m$((2 * r + k - 40)).amr" "$work/round/$name"
        [ "$r" -eq 11 ] && gone+=("$dir/$name")
      else
        name=$(printf 'IMG_%04d.JPG' $n)
        cp "$work/p$(((n * 7) % 12)).jpg" "$work/round/$name"
        case $((k % 10)) in 1|2|5|7|8) gone+=("$dir/$name") ;; esac
      fi
      files+=("$work/round/$name")
      (cd "$work/round" && md5sum "$name" | sed "s|  |  ${dir#::/}/|") >> "$image.md5"
      n=$((n + 1))
    done
    mcopy -i "$image" "${files[@]}" "$dir/"
    mdel -i "$image" "${gone[@]}"
  done
  ;;
*)
  echo "unknown kind $kind" >&2
  exit 2
  ;;
esac
