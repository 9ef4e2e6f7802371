# Shared by scripts/run and scripts/test: installs what the project needs from Debian's packages
# (only what is missing), then configures and builds incrementally.
# shellcheck shell=bash

VB_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The style checks (scripts/lint), which find the files to check through git.
VB_LINT_PACKAGES=(git clang-format shellcheck)

# Build: compiler, CMake, Ninja, Qt 6, xcb with RandR, the Wayland client library and the protocols it
# speaks beside Qt (wayland-protocols), libheif (HEIC, HEIF and AVIF; it brings its HEVC and AV1
# decoders), dav1d (the AV1 decoder the program hands libheif, set up for still pictures), libexif and
# libseccomp (the system-call filter of the sandbox a helper process enters). Run: Qt's Wayland
# platform, Qt's readers of WebP and TIFF, a font for the captions; scripts/run's private Xvfb, its
# demo pictures (ImageMagick, exiftool for their dates) and its screenshot (ImageMagick's import).
# shellcheck disable=SC2034 # for the scripts that source this file
VB_RUN_PACKAGES=(
    g++ cmake ninja-build ccache pkg-config qt6-base-dev qt6-svg-dev libgl-dev libxcb1-dev libxcb-randr0-dev
    libxcb-screensaver0-dev liblcms2-dev
    libjpeg-dev libwayland-dev wayland-protocols libheif-dev libdav1d-dev libexif-dev libseccomp-dev qt6-wayland
    qt6-image-formats-plugins fonts-dejavu-core xvfb xauth imagemagick libimage-exiftool-perl
)

# Test, on top of those: the style checks, the X tools the tests drive windows with, picture tools
# (heif-convert decodes the reference of a HEIF picture; libjpeg-turbo's tools make JPEGs for the
# hostile pictures, the benchmark and the fuzzers), the desktop files' and the manual's checks, FUSE for the file system whose reads hang on demand
# (tests/stallfs.py), valgrind's memory checker (tests/sanitizers/valgrind-pictures), lcms2's tools
# and colord's profiles (the reference colour conversions).
# shellcheck disable=SC2034 # for the scripts that source this file
VB_PACKAGES=(
    "${VB_RUN_PACKAGES[@]}" "${VB_LINT_PACKAGES[@]}" x11-utils x11-xserver-utils xdotool libjpeg-turbo-progs
    libheif-examples desktop-file-utils appstream libxml2-utils man-db groff-base dpkg-dev python3-fusepy fuse3
    valgrind liblcms2-utils colord-data
)

vb_install_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    local sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# vb_configure BUILD_DIR [cmake options...] : configures the build folder once.
vb_configure() {
    local dir=$1
    shift
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$VB_ROOT" -B "$dir" -G Ninja "$@"
    fi
}

# vb_build BUILD_DIR [cmake options...] : configures once, then builds everything.
vb_build() {
    vb_configure "$@"
    cmake --build "$1" -j "$(nproc)"
}

# vb_build_program BUILD_DIR : configures once, then builds only the program (and the idle watcher
# it runs); the tests and the benchmark are left for vb_build in the same folder.
vb_build_program() {
    vb_configure "$1"
    cmake --build "$1" -j "$(nproc)" --target vellumbright
}
