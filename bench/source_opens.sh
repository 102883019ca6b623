#!/bin/bash
# source_opens.sh BUILD_BENCH_DIR: every open of the source medium in a scan,
# a backup (with its Scan Backup) and a Quick Undelete with the saving of its
# entries is read-only. The three window benchmarks run under strace on a
# card made by mkfs.fat and mtools, attached as E:, and on a loop device over
# the same card where the machine has loop devices (root); each open or
# openat of the card's path must carry O_RDONLY and none of O_WRONLY, O_RDWR,
# O_CREAT or O_TRUNC. Exit 77 (skipped) without strace or when tracing is
# not permitted.
set -u
bench=${1:?usage: source_opens.sh BUILD_BENCH_DIR}
command -v strace >/dev/null || { echo "strace missing: skipped"; exit 77; }
strace -f -o /dev/null true 2>/dev/null || { echo "tracing not permitted: skipped"; exit 77; }
for t in mkfs.fat mcopy mdel; do
  command -v "$t" >/dev/null || { echo "$t missing: skipped"; exit 77; }
done

work=$(mktemp -d /tmp/source_opens.XXXXXX)
loop=""
cleanup() {
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

card=$work/card.img
mkfs.fat -C -F 16 -s 4 -i 0BADCAFE -n CARD "$card" 16384 >/dev/null || exit 1
head -c 300000 /dev/urandom >"$work/keep.bin"
printf '\xff\xd8\xff\xe0\x00\x10JFIF\x00' >"$work/gone.jpg"
head -c 40000 /dev/urandom >>"$work/gone.jpg"
printf '\xff\xd9' >>"$work/gone.jpg"
mcopy -i "$card" "$work/keep.bin" ::KEEP.BIN && mcopy -i "$card" "$work/gone.jpg" ::GONE.JPG &&
  mdel -i "$card" ::GONE.JPG || exit 1

failed=0
# check SOURCE LABEL COMMAND...: runs the command under strace and judges
# the opens of SOURCE.
check() {
  local source=$1 label=$2
  shift 2
  local trace=$work/trace.txt
  rm -f "$trace"
  strace -f -qq -e trace=open,openat -o "$trace" "$@" >"$work/out.txt" 2>&1
  local status=$?
  if [ $status -ne 0 ]; then
    echo "FAIL $label: exit $status"; tail -5 "$work/out.txt"; failed=1; return
  fi
  local opens bad
  opens=$(grep -F "\"$source\"" "$trace" | grep -v ' = -1 ' || true)
  bad=$(printf '%s\n' "$opens" | grep -E 'O_WRONLY|O_RDWR|O_CREAT|O_TRUNC' || true)
  local count
  count=$(printf '%s' "$opens" | grep -c . || true)
  if [ "$count" -eq 0 ]; then
    echo "FAIL $label: the source was never opened"; failed=1
  elif [ -n "$bad" ]; then
    echo "FAIL $label: opened for writing:"; printf '%s\n' "$bad"; failed=1
  elif printf '%s\n' "$opens" | grep -qv 'O_RDONLY'; then
    echo "FAIL $label: an open without O_RDONLY:"; printf '%s\n' "$opens" | grep -v O_RDONLY; failed=1
  else
    echo "ok   $label: $count opens of $source, all read-only"
  fi
}

run_all() {
  local source=$1 kind=$2
  check "$source" "scan of the $kind" "$bench/scan_image" "$source" "$work/scan-$kind" jpg
  check "$source" "backup of the $kind" "$bench/backup_image" "$source" "$work/backup-$kind"
  check "$source" "undelete of the $kind" "$bench/undelete_image" "$source" "$work/undelete-$kind" --all
}

run_all "$card" image
if [ "$(id -u)" -eq 0 ] && [ -e /dev/loop-control ] && command -v losetup >/dev/null; then
  cp "$card" "$work/device.img"
  loop=$(losetup -f --show "$work/device.img" 2>/dev/null) || loop=""
  if [ -n "$loop" ]; then
    run_all "$loop" "loop device"
  else
    echo "no loop device could be set up: the device runs were left out"
  fi
fi
[ $failed -eq 0 ] && echo "every open of the source was read-only"
exit $failed
