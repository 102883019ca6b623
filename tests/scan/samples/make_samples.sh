#!/usr/bin/env bash
# Makes the committed samples of the found-file end tests with the real tools
# that CI does not install: LibreOffice (a DOC and an XLS), ghostscript (a
# PDF) and ffmpeg (an MP3 with an ID3 version 2.4 tag, an AVI and a WMV);
# for the files of today's tools, LibreOffice's DOC, XLS and PPT of about
# 2.5 MB and over 8 MB (their DIFAT behind their allocation sectors), kept
# xz-compressed, its big-endian TIFF, and ffmpeg's frame grab (a comment
# first, no JFIF segment).
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

# Office files: text cycling three sentences, a table of numbers, a slide
# with an uncompressed PNG; each about 2.5 MB and over 8 MB.
lines() { awk -v n="$1" 'BEGIN { split("The light was low over the harbour when the first roll was loaded.|Every frame \
of the morning was kept on the card for the album.|Prints on matte paper, two of each, for the family and the shop.", s,
  "|"); for (i = 0; i < n; i++) print s[i % 3 + 1] }'; }
lines 17700 > report3.txt
lines 60000 > report9.txt
table() { awk -v rows="$1" -v cols="$2" 'BEGIN { for (r = 0; r < rows; r++) { line = "";
  for (c = 0; c < cols; c++) line = line (c ? "," : "") (c * 10 + r % 10); print line } }'; }
table 16000 20 > table3.csv
table 40000 30 > table9.csv
slides() {
  convert -size "$2" gradient:navy-gold -depth 8 -define png:compression-level=0 -define png:compression-filter=0 "$1.png"
  { printf '<?xml version="1.0" encoding="UTF-8"?>\n<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.presentation"><office:body><office:presentation><draw:page draw:name="page1">'
    printf '<draw:frame svg:x="1cm" svg:y="1cm" svg:width="10cm" svg:height="3cm"><draw:text-box><text:p>The shoot</text:p></draw:text-box></draw:frame>'
    printf '<draw:frame svg:x="2cm" svg:y="5cm" svg:width="12cm" svg:height="12cm"><draw:image><office:binary-data>'
    base64 -w0 "$1.png"
    printf '</office:binary-data></draw:image></draw:frame></draw:page></office:presentation></office:body></office:document>\n'; } > "$1.fodp"
}
slides slides3 900x900
slides slides9 1700x1700
soffice --headless --convert-to doc report3.txt report9.txt > /dev/null
soffice --headless --convert-to xls table3.csv table9.csv > /dev/null
soffice --headless --convert-to ppt slides3.fodp slides9.fodp > /dev/null
for f in report3.doc report9.doc table3.xls table9.xls slides3.ppt slides9.ppt; do xz -9e -T1 -c "$f" > "$f.xz"; done
# A drawing page as LibreOffice writes a TIFF: big-endian, its directory at byte 8.
convert -size 64x48 plasma:fractal page.png
soffice --headless --convert-to tif page.png > /dev/null
# A frame grab of a video without a pixel aspect: ffmpeg writes no JFIF segment.
ffmpeg -loglevel error -y -f lavfi -i testsrc=duration=1:size=160x120:rate=1 -vf setsar=0 -frames:v 1 grab.jpg

cp letter.doc sheet.xls page.pdf tone24.mp3 clip.avi clip.wmv "$out"/
cp ./*.xz page.tif grab.jpg "$out"/
ls -l "$out"
