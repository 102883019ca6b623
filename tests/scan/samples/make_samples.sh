#!/usr/bin/env bash
# Makes the committed samples of the found-file end tests with the real tools
# that CI does not install: LibreOffice (a DOC and an XLS), ghostscript (a
# PDF) and ffmpeg (an MP3 with an ID3 version 2.4 tag, an AVI and a WMV).
#   make_samples.sh [FOLDER]   (default: the folder of this script)
set -euo pipefail
out=$(cd "${1:-$(dirname "$0")}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

printf 'A letter from the card.\n\nIt was written on a camera day, %s.\n' "$(seq 1 40 | tr '\n' ' ')" > letter.txt
soffice --headless --convert-to doc letter.txt > /dev/null
printf 'Film,Shots,Size\n%s\n' "$(seq 1 60 | sed 's/.*/Roll &,36,&00/')" > sheet.csv
soffice --headless --convert-to xls sheet.csv > /dev/null
gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -o page.pdf -c \
  "/Helvetica findfont 24 scalefont setfont 72 700 moveto (Found on the card) show 72 660 moveto (page one) show showpage"
ffmpeg -loglevel error -y -f lavfi -i sine=frequency=523:duration=1.5 -b:a 32k -metadata title="Tone" \
  -metadata artist="Card" tone24.mp3
ffmpeg -loglevel error -y -f lavfi -i testsrc=duration=1:size=48x32:rate=10 -c:v mpeg4 -q:v 10 clip.avi
ffmpeg -loglevel error -y -f lavfi -i testsrc=duration=1:size=48x32:rate=10 -f lavfi -i sine=duration=1 \
  -c:v wmv2 -q:v 10 -c:a wmav2 -b:a 32k clip.wmv

cp letter.doc sheet.xls page.pdf tone24.mp3 clip.avi clip.wmv "$out"/
ls -l "$out"
