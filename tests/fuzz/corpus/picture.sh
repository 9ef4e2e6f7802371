#!/usr/bin/env bash
# Writes the seed pictures of fuzz_picture into the folder given: small BMP, JPEG and GIF files of
# the kinds a slideshow meets, made with ImageMagick, cjpeg and exiftool, and headers that declare far more
# than their files hold.
#   tests/fuzz/corpus/picture.sh FOLDER
set -euo pipefail
out=$1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/vb-seeds.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$out"

convert -size 24x16 gradient:navy-gold "$tmp/p.ppm"
convert "$tmp/p.ppm" -type TrueColor "bmp3:$out/truecolour.bmp"
convert "$tmp/p.ppm" -colors 16 -type Palette "bmp3:$out/palette.bmp"
convert "$tmp/p.ppm" -colors 16 -type Palette -compress RLE "bmp3:$out/rle.bmp"
convert "$tmp/p.ppm" -colors 16 "$out/frame.gif"
cjpeg "$tmp/p.ppm" >"$out/baseline.jpg"
cjpeg -progressive "$tmp/p.ppm" >"$out/progressive.jpg"
cjpeg -grayscale "$tmp/p.ppm" >"$out/grey.jpg"
printf '0;\n1;\n2;\n' >"$tmp/scans"
cjpeg -scans "$tmp/scans" "$tmp/p.ppm" >"$out/multiscan.jpg"
# With an EXIF block that says the camera was turned (orientation 6).
exiftool -q -n -Orientation=6 -o "$out/turned.jpg" "$out/baseline.jpg"

# The same JPEG declaring another width and height (big-endian, in hex) in its frame header.
declare_size() { # SOURCE TARGET HEIGHT_HEX WIDTH_HEX
    cp "$1" "$2"
    local at
    at=$(LC_ALL=C grep -obUaP '\xff[\xc0-\xc2]' "$2" | head -n1 | cut -d: -f1)
    printf '%b' "\\x${3:0:2}\\x${3:2:2}\\x${4:0:2}\\x${4:2:2}" | dd of="$2" bs=1 seek=$((at + 5)) conv=notrunc status=none
}
declare_size "$out/baseline.jpg" "$out/baseline-4000.jpg" 0fa0 0fa0
declare_size "$out/progressive.jpg" "$out/progressive-30000.jpg" 7530 7530
declare_size "$out/multiscan.jpg" "$out/multiscan-16384.jpg" 4000 4000

# A GIF whose logical screen is 30000 x 30000 and whose one frame is a single pixel.
printf 'GIF89a\x30\x75\x30\x75\x80\x00\x00\xff\xff\xff\x80\x80\x80,\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;' \
    >"$out/screen.gif"
# A BMP stored top-down (negative height): 4 x 2 pixels of 24 bits, in grey.
{
    printf 'BM\x4e\x00\x00\x00\x00\x00\x00\x00\x36\x00\x00\x00'
    printf '\x28\x00\x00\x00\x04\x00\x00\x00\xfe\xff\xff\xff\x01\x00\x18\x00\x00\x00\x00\x00'
    printf '\x18\x00\x00\x00\x13\x0b\x00\x00\x13\x0b\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00'
    printf '\x80%.0s' $(seq 24)
} >"$out/top-down.bmp"
