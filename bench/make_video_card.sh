#!/usr/bin/env bash
# make_video_card.sh IMAGE [COUNT] [MiB]: a camera card of videos for the scan
# benchmarks. COUNT videos (default 35) of ffmpeg, 720p noise so that nothing
# shrinks, in turn QuickTime MOV (H.264), MP4 (H.264 and AAC), 3GP, MPEG-1
# (-f mpeg), MPEG-2 (-f vob), motion-JPEG AVI and motion-JPEG MOV, each
# followed by a file of random bytes, are copied by mcopy into DCIM/100VIDEO
# on a FAT32 image of MiB (default 1024; 8 KiB clusters, serial DEADBEEF),
# which is then formatted again in place ("quick format"). With VIDEOS=FOLDER
# set, the videos are kept there, to compare the found files with.
set -euo pipefail
image=${1:?usage: make_video_card.sh IMAGE [COUNT] [MiB]}
count=${2:-35}
mib=${3:-1024}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/videos"
kinds=(MOV MP4 3GP MPG VOB AVI MJP)
order=()
for ((i = 1; i <= count; i++)); do
  kind=${kinds[$(( (i - 1) % ${#kinds[@]} ))]}
  t=$(( 3 + i % 4 ))
  base="$work/videos/VID_$(printf %04d "$i")"
  src=(-f lavfi -i "testsrc2=size=1280x720:rate=25,noise=alls=60:allf=t+u:all_seed=$i" -f lavfi -i "sine=frequency=$((200 + i))")
  case $kind in
    MOV) out=$base.MOV; args=(-map 0:v -c:v libx264 -preset ultrafast -b:v 12M -pix_fmt yuv420p) ;;
    MP4) out=$base.MP4; args=(-c:v libx264 -preset ultrafast -b:v 12M -pix_fmt yuv420p -c:a aac -b:a 128k) ;;
    3GP) out=$base.3GP; args=(-s 352x288 -c:v libx264 -preset ultrafast -b:v 2M -pix_fmt yuv420p -c:a aac -ac 1 -b:a 32k) ;;
    MPG) out=$base.MPG; args=(-c:v mpeg1video -b:v 6M -c:a mp2 -f mpeg) ;;
    VOB) out=$base.VOB; args=(-c:v mpeg2video -b:v 9M -maxrate 9M -bufsize 1835k -c:a mp2 -f vob) ;;
    AVI) out=$base.AVI; args=(-map 0:v -c:v mjpeg -q:v 4) ;;
    MJP) out=$base.MOV; args=(-map 0:v -c:v mjpeg -q:v 4) ;;
  esac
  ffmpeg -loglevel fatal -y "${src[@]}" -t "$t" "${args[@]}" "$out"
  data="$work/videos/DATA_$(printf %04d "$i").BIN"
  head -c $(( (i * 7919) % 300000 + 20000 )) /dev/urandom > "$data"
  order+=("$out" "$data")
done
rm -f "$image"
mkfs.fat -C -F 32 -s 16 -i DEADBEEF "$image" $(( mib * 1024 )) > /dev/null
mmd -i "$image" ::/DCIM ::/DCIM/100VIDEO
for f in "${order[@]}"; do
  mcopy -i "$image" "$f" ::/DCIM/100VIDEO/
done
mkfs.fat -F 32 -s 16 -i DEADBEEF "$image" > /dev/null
if [ -n "${VIDEOS:-}" ]; then
  mkdir -p "$VIDEOS"
  cp "$work"/videos/VID_* "$VIDEOS"/
fi
echo "$image: $count videos, $(du -cb "$work"/videos/VID_* | tail -1 | cut -f1) bytes," \
  "$(du -cb "$work"/videos/DATA_* | tail -1 | cut -f1) bytes of random data between them"
