# Shared by the scripts in tests/desktop. Each runs under tests/run-with-xvfb, which gives it a
# private scratch folder ($VB_TEST_SCRATCH) and, for X11 tests, a private Xvfb ($DISPLAY).
#   SCRIPT PROGRAM BUILD_DIR [EXTRA...]
# shellcheck shell=bash
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/common.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/display.sh"

# shellcheck disable=SC2034 # the arguments and the scratch folder are the sourcing test's
program=$1 build=$2 scratch=$VB_TEST_SCRATCH
shift 2
vb_scratch=$scratch

vbt_fail() {
    echo "FAILED: $*" >&2
    exit 1
}

vbt_skip() {
    echo "SKIPPED: $*"
    exit 77
}

# vbt_need_daemon PACKAGE... : installs the daemon's Debian packages where missing; the test is
# skipped only when they cannot be installed.
vbt_need_daemon() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    vb_install_packages "${missing[@]}" >&2 ||
        vbt_skip "the Debian package(s) ${missing[*]} cannot be installed on this machine"
}

# vbt_version PACKAGE : its installed Debian version, for the test's log.
vbt_version() {
    echo "Testing against $1 $(dpkg-query -W -f='${Version}' "$1")"
}

# vbt_pictures FOLDER COLOUR : a settings folder whose one picture folder holds a 400 x 300 BMP of
# one colour (#RRGGBB), shown every minute; prints the value for XDG_CONFIG_HOME.
vbt_pictures() {
    local folder=$1 colour=$2
    mkdir -p "$folder/pictures" "$folder/config"
    convert -size 400x300 "xc:$colour" "$folder/pictures/picture.bmp"
    printf '[Settings]\nNumDirs=1\nDir1=%s\nInterval=60\nShowFileNames=False\n' "$folder/pictures" \
        >"$folder/config/Lanternshade.ini"
    echo "$folder/config"
}

# vbt_near WINDOW X Y COLOUR : the pixel at (X, Y) of the window ("root" for the screen) is within
# 40 of COLOUR (#RRGGBB) on each channel.
vbt_near() {
    vbt_colour_near "$(import -window "$1" -crop "1x1+$2+$3" -depth 8 txt:- 2>/dev/null)" "$4"
}

# vbt_colour_near TEXT COLOUR : the first #RRGGBB in TEXT (ImageMagick's txt: output) is within 40
# of COLOUR on each channel.
vbt_colour_near() {
    local seen want i a b
    seen=$(grep -o '#[0-9A-Fa-f]\{6\}' <<<"$1" | head -n1)
    [ -n "$seen" ] || return 1
    want=$2
    for i in 1 3 5; do
        a=$((16#${seen:i:2}))
        b=$((16#${want:i:2}))
        [ $((a > b ? a - b : b - a)) -le 40 ] || return 1
    done
}

# vbt_shows_picture WINDOW WIDTH HEIGHT COLOUR : the window shows the picture's colour in its
# middle and black in its corners.
vbt_shows_picture() {
    vbt_near "$1" $(($2 / 2)) $(($3 / 2)) "$4" && vbt_near "$1" 2 2 '#000000' &&
        vbt_near "$1" $(($2 - 3)) $(($3 - 3)) '#000000'
}

# vbt_window_of PID : the id of the visible window that process PID shows, if any.
vbt_window_of() {
    xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -n1
}

# vbt_gone PID : the process has ended.
vbt_gone() {
    ! kill -0 "$1" 2>/dev/null
}

# vbt_screen : sets screen ("WIDTHxHEIGHT+0+0"), screen_width and screen_height.
# shellcheck disable=SC2034 # for the test that calls it
vbt_screen() {
    screen=$(xwininfo -root | awk '/-geometry/ {print $2}')
    screen_width=${screen%%x*}
    screen_height=${screen#*x}
    screen_height=${screen_height%%+*}
}

# vbt_geometry WINDOW : "WIDTHxHEIGHT+X+Y" as the X server has it.
vbt_geometry() {
    xwininfo -id "$1" | awk '/-geometry/ {print $2}'
}
