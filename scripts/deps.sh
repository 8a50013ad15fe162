#!/usr/bin/env bash
# Makes sure the Debian packages a task needs are installed.
#   scripts/deps.sh build   compiler, CMake, the GoogleTest sources and the
#                           libraries the tool and the gdk-pixbuf loader use
#   scripts/deps.sh test    also MinGW-w64, Wine (64- and 32-bit), Xvfb, the
#                           tools the GUI and fuzz tests use, and those that
#                           build and check the packages (dpkg-dev, lintian,
#                           man, zip) and the Japanese locale's messages;
#                           the wallpaper tests' X libraries and gsettings;
#                           gdk-pixbuf's thumbnailer and its Python binding
# Installs what is missing when run as root; otherwise prints the command to
# run and fails.  Silent when everything is there.
set -euo pipefail

usage() {
    echo "usage: $0 build|test" >&2
    exit 2
}
[ $# -eq 1 ] || usage

# gettext compiles the message catalogues; git names the revision a build
# comes from; the tool writes PNG through libdeflate; the gdk-pixbuf loader
# is built where pkg-config finds gdk-pixbuf (whose development package brings
# the thumbnailer and shared-mime-info, which its tests use).
build_packages=(cmake g++ make googletest libpng-dev libdeflate-dev gettext git
    pkg-config libgdk-pixbuf-2.0-dev)
test_packages=(
    g++-mingw-w64-x86-64 g++-mingw-w64-i686
    xvfb xdotool x11-utils fonts-monapo imagemagick
    clang libclang-rt-14-dev pngcheck
    locales man-db groff-base dpkg-dev lintian zip unzip bash-completion shared-mime-info
    libx11-6 libxrandr2 libglib2.0-bin gsettings-desktop-schemas
    libgdk-pixbuf2.0-bin python3-gi gir1.2-gdkpixbuf-2.0
)
# Wine gets its recommended packages: its X11 driver loads libXrender,
# libXrandr, libXcursor and friends at run time, and those are only
# recommendations of libwine.  The rest is installed without recommends.
wine_packages=(wine wine64 wine32:i386)

case "$1" in
build) wanted=("${build_packages[@]}") wine_wanted=() ;;
test) wanted=("${build_packages[@]}" "${test_packages[@]}") wine_wanted=("${wine_packages[@]}") ;;
*) usage ;;
esac

installed() {
    [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

missing=()
for p in "${wanted[@]}"; do installed "$p" || missing+=("$p"); done
wine_missing=()
for p in "${wine_wanted[@]}"; do installed "$p" || wine_missing+=("$p"); done

# The tests check the tool's Japanese messages, which need a Japanese locale.
ensure_japanese_locale() {
    [ "$1" = test ] || return 0
    locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8' && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "No ja_JP.UTF-8 locale: the Japanese message tests will be skipped." >&2
        echo "As root, run:  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8" >&2
        return 0
    fi
    localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 >/dev/null 2>&1 ||
        echo "could not make the ja_JP.UTF-8 locale" >&2
}

if [ ${#missing[@]} -eq 0 ] && [ ${#wine_missing[@]} -eq 0 ]; then
    ensure_japanese_locale "$1"
    exit 0
fi

need_i386=no
if [ ${#wine_missing[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    need_i386=yes
fi

apt_install='DEBIAN_FRONTEND=noninteractive apt-get install -y'
if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]} ${wine_missing[*]}" >&2
    echo "As root, run:" >&2
    [ $need_i386 = yes ] && echo "  dpkg --add-architecture i386" >&2
    echo "  apt-get update" >&2
    [ ${#missing[@]} -gt 0 ] && echo "  $apt_install --no-install-recommends ${missing[*]}" >&2
    [ ${#wine_missing[@]} -gt 0 ] && echo "  $apt_install ${wine_missing[*]}" >&2
    exit 1
fi

echo "Installing: ${missing[*]} ${wine_missing[*]}" >&2
[ $need_i386 = yes ] && dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >/dev/null
if [ ${#missing[@]} -gt 0 ]; then
    apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
fi
if [ ${#wine_missing[@]} -gt 0 ]; then
    apt-get install -y -q "${wine_missing[@]}" >/dev/null
fi
ensure_japanese_locale "$1"
