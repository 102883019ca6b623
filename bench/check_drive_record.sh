#!/usr/bin/env bash
# drive_record prints the record of an image made by mkfs.fat, and its
# geometry agrees with what minfo reads from the same image.
set -euo pipefail
tool="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export QUILVANE_HOME="$dir/home" QUILVANE_DRIVES="$dir/none.conf" MTOOLS_SKIP_CHECK=1
PATH="$PATH:/sbin:/usr/sbin"
mkfs.fat -C --invariant -F 16 -S 512 -s 4 -R 4 -f 2 -r 512 -i DEADBEEF -n CARD "$dir/card.img" 16384 >/dev/null
out=$("$tool" "$dir/card.img")
echo "$out"
field() { echo "$out" | sed -n "s/^$1: //p"; }
info() { minfo -i "$dir/card.img" :: | sed -n "s/^$1: *//p" | awk '{print $1}'; }
[ "$(field FileSystem)" = FAT16 ]
[ "$(field VolumeSerial)" = DEADBEEF ]
[ "$(field VolumeLabel)" = CARD ]
[ "$(field BytesPerSector)" = "$(info 'sector size')" ]
[ "$(field SectorsPerCluster)" = "$(info 'cluster size')" ]
[ "$(field ReservedSectors)" = "$(info 'reserved (boot) sectors')" ]
[ "$(field SectorsPerFat)" = "$(info 'sectors per fat')" ]
[ "$(field NumberOfFats)" = "$(info 'fats')" ]
echo "drive_record agrees with minfo"
