#!/usr/bin/env bash
# Writes the seed pictures of fuzz_heif into the folder given: small HEIC and AVIF files of the
# kinds a slideshow meets (plain, with alpha, 10 bits a sample, turned by the file's own irot and
# imir, with an EXIF date), made with ImageMagick, heif-enc, exiftool and heif-turned.c, which
# writes the turned one (heif-enc writes no irot); one declares a size far beyond its data.
#   tests/fuzz/corpus/heif.sh FOLDER
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/vb-heif-seeds.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$out"

convert -size 24x16 gradient:navy-gold "PNG24:$tmp/p.png"
convert -size 24x16 gradient:navy-gold -alpha set -channel A -evaluate set 50% +channel "PNG32:$tmp/alpha.png"
convert -size 24x16 gradient:navy-gold -depth 16 "PNG48:$tmp/deep.png"
heif-enc -q 50 -o "$out/plain.heic" "$tmp/p.png" >/dev/null
heif-enc -q 50 -A -o "$out/plain.avif" "$tmp/p.png" >/dev/null
heif-enc -q 50 -o "$out/alpha.heic" "$tmp/alpha.png" >/dev/null
heif-enc -q 50 -A -o "$out/alpha.avif" "$tmp/alpha.png" >/dev/null
heif-enc -q 50 -b 10 -o "$out/deep.heic" "$tmp/deep.png" >/dev/null
cp "$out/plain.heic" "$out/dated.heic"
exiftool -q -overwrite_original -DateTimeOriginal='2021:07:14 10:20:30' "$out/dated.heic"

read -ra libheif <<<"$(pkg-config --cflags --libs libheif)"
cc -o "$tmp/heif-turned" "$here/heif-turned.c" "${libheif[@]}"
"$tmp/heif-turned" "$out/turned-6.heic" 6
"$tmp/heif-turned" "$out/turned-5.heic" 5

# The plain HEIC declaring 30000 x 30000 in its 'ispe' boxes (after the box's name, the version
# and flags: width and height, big-endian).
cp "$out/plain.heic" "$out/ispe-30000.heic"
LC_ALL=C grep -obUa 'ispe' "$out/ispe-30000.heic" | cut -d: -f1 | while read -r at; do
    printf '\x00\x00\x75\x30\x00\x00\x75\x30' | dd of="$out/ispe-30000.heic" bs=1 seek=$((at + 8)) conv=notrunc status=none
done
