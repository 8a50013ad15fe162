#!/usr/bin/env bash
# Builds what is shipped and writes it into dist/:
#   dist/tavrel_VERSION_ARCH.deb        the Linux tool as a Debian package
#   dist/tavrel-pixbuf-loader_VERSION_ARCH.deb
#                                       the gdk-pixbuf loader, a package of its own
#   dist/tavrel-VERSION-windows.zip     Tavrel.exe and the WIC decoder tavrel_wic.dll,
#                                       32-bit at the top, 64-bit in x64/, with the
#                                       scripts that register the decoder
#
# Builds into build/pkg-native, build/pkg-win32 and build/pkg-win64. With
# TAVREL_PACKAGE_BUILDS=DIR it takes the programs from DIR/native, DIR/win32
# and DIR/win64 instead, where they have been built (as the test command
# does); it never builds there.
#
# The maintainer named in the package: TAVREL_MAINTAINER ("Name <address>");
# build parallelism: TAVREL_JOBS (default nproc).
set -euo pipefail
shopt -s inherit_errexit
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/deps.sh test

version="$(sed -n 's/^project(Tavrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
arch="$(dpkg --print-architecture)"
maintainer="${TAVREL_MAINTAINER:-Tavrel authors <tavrel@example.org>}"
reuse="${TAVREL_PACKAGE_BUILDS:-}"
jobs="${TAVREL_JOBS:-$(nproc 2>/dev/null || echo 2)}"
# Every file shipped carries the time of the last commit, so that the same
# sources give the same packages.
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}"

dist="$root/dist"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$dist"

say() { printf '== %s\n' "$*"; }
fail() {
    echo "package.sh: $*" >&2
    exit 1
}

# build NAME PROGRAM [cmake options...]: prints the build folder holding
# PROGRAM, reused or built.
build() {
    local name=$1 program=$2
    shift 2
    if [ -n "$reuse" ] && [ -x "$reuse/$name/$program" ]; then
        echo "$reuse/$name"
        return
    fi
    local dir="$root/build/pkg-$name"
    # The prefix the package installs into, which the program may look in.
    cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DTAVREL_BUILD_TESTS=OFF \
        -DTAVREL_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr "$@" >&2
    cmake --build "$dir" --parallel "$jobs" >&2
    echo "$dir"
}

# ---------------------------------------------------------------- Debian ---
say "native build"
# Built with Debian's hardening flags, like Debian's own packages.
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
native="$(build native cli/tavrel -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_MODULE_LINKER_FLAGS="$(flags LDFLAGS)" \
    -DTAVREL_PIXBUF_LOADER=ON)"
echo "from $native"
loader_so=libpixbufloader-rq6.so
[ -f "$native/plugins/pixbuf/$loader_so" ] ||
    fail "$native has no gdk-pixbuf loader (is libgdk-pixbuf-2.0-dev installed?)"

say "install into the staging folder"
# Laid out as Debian's tools expect: debian/PACKAGE beside debian/control.
stage="$work/src/debian/tavrel"
mkdir -p "$stage/DEBIAN"
printf 'Source: tavrel\n\nPackage: tavrel\nArchitecture: any\n\nPackage: tavrel-pixbuf-loader\nArchitecture: any\n' \
    >"$work/src/debian/control"
# Everything but the loader, which has a package of its own.
(umask 022 && DESTDIR="$stage" cmake --install "$native" --prefix /usr --component Unspecified >/dev/null)
doc="$stage/usr/share/doc/tavrel"
for f in usr/bin/tavrel usr/share/man/man1/tavrel.1 usr/share/bash-completion/completions/tavrel \
    usr/share/mime/packages/tavrel-rq6.xml usr/share/thumbnailers/tavrel.thumbnailer \
    usr/share/doc/tavrel/README.md usr/share/doc/tavrel/NEWS.md usr/share/doc/tavrel/LICENSE; do
    [ -f "$stage/$f" ] || fail "the installed tree lacks /$f"
done
stray="$(cd "$stage" && find . -mindepth 1 -maxdepth 1 ! -name usr ! -name DEBIAN)"
[ -z "$stray" ] || fail "installed outside /usr: $stray"

# What Debian's tools would do: stripped programs; manual pages, changelogs
# and documents over 4 KB compressed; the licence in the copyright file.
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$stage"/usr/bin/*
gzip -9n "$stage/usr/share/man/man1/tavrel.1"
rm "$doc/LICENSE"
for f in README.md NEWS.md; do
    [ "$(stat -c %s "$doc/$f")" -le 4096 ] || gzip -9n "$doc/$f"
done
cp packaging/debian/copyright "$doc/copyright"
sed "s|@MAINTAINER@|$maintainer|" packaging/debian/changelog | gzip -9n >"$doc/changelog.gz"
find "$stage" -type d -exec chmod 0755 {} +
find "$stage" -type f -exec chmod 0644 {} +
chmod 0755 "$stage"/usr/bin/*

# The run-time dependencies, from the libraries the program is linked with.
depends="$(cd "$work/src" && dpkg-shlibdeps -O --warnings=1 -edebian/tavrel/usr/bin/tavrel |
    sed -n 's/^shlibs:Depends=//p')"
[ -n "$depends" ] || fail "dpkg-shlibdeps found no dependencies"

size="$(du -sk --apparent-size --exclude=DEBIAN "$stage" | cut -f1)"
sed -e "s|@VERSION@|$version|" -e "s|@ARCH@|$arch|" -e "s|@MAINTAINER@|$maintainer|" \
    -e "s|@INSTALLED_SIZE@|$size|" -e "s|@DEPENDS@|$depends|" \
    packaging/debian/control.in >"$stage/DEBIAN/control"
(cd "$stage" && find usr -type f | LC_ALL=C sort | xargs md5sum) >"$stage/DEBIAN/md5sums"
chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

deb="$dist/tavrel_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "wrote $deb"

# ---------------------------------------------------- gdk-pixbuf loader ---
say "gdk-pixbuf loader package"
# The loader alone. gdk-pixbuf's own package watches the loaders folder with
# a dpkg trigger that rebuilds its loader cache, so installing and removing
# this package registers and unregisters the loader with no scripts of ours.
# It depends on tavrel for the RQ6 MIME type, by which gdk-pixbuf recognises
# the files, and is Multi-Arch: same like Debian's other loaders.
lstage="$work/src/debian/tavrel-pixbuf-loader"
mkdir -p "$lstage/DEBIAN"
(umask 022 && DESTDIR="$lstage" cmake --install "$native" --prefix /usr --component pixbuf-loader >/dev/null)
module="$(cd "$lstage" && find usr -name "$loader_so")"
moduledir="$(pkg-config --variable=gdk_pixbuf_moduledir gdk-pixbuf-2.0)"
[ "/$module" = "$moduledir/$loader_so" ] || fail "the loader is installed as /$module, not in $moduledir"
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$lstage/$module"
ldoc="$lstage/usr/share/doc/tavrel-pixbuf-loader"
mkdir -p "$ldoc"
cp packaging/debian/copyright "$ldoc/copyright"
sed "s|@MAINTAINER@|$maintainer|" packaging/debian/changelog | gzip -9n >"$ldoc/changelog.gz"
find "$lstage" -type d -exec chmod 0755 {} +
find "$lstage" -type f -exec chmod 0644 {} +
ldepends="$(cd "$work/src" && dpkg-shlibdeps -O --warnings=1 -e"debian/tavrel-pixbuf-loader/$module" |
    sed -n 's/^shlibs:Depends=//p')"
[ -n "$ldepends" ] || fail "dpkg-shlibdeps found no dependencies of the loader"
size="$(du -sk --apparent-size --exclude=DEBIAN "$lstage" | cut -f1)"
sed -e "s|@VERSION@|$version|" -e "s|@ARCH@|$arch|" -e "s|@MAINTAINER@|$maintainer|" \
    -e "s|@INSTALLED_SIZE@|$size|" -e "s|@DEPENDS@|$ldepends|" \
    packaging/debian/pixbuf-loader.control.in >"$lstage/DEBIAN/control"
(cd "$lstage" && find usr -type f | LC_ALL=C sort | xargs md5sum) >"$lstage/DEBIAN/md5sums"
chmod 0644 "$lstage/DEBIAN/control" "$lstage/DEBIAN/md5sums"
find "$lstage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

ldeb="$dist/tavrel-pixbuf-loader_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$lstage" "$ldeb" >/dev/null
echo "wrote $ldeb"

# --------------------------------------------------------------- Windows ---
say "Windows builds"
win32="$(build win32 ui/Tavrel.exe -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake")"
win64="$(build win64 ui/Tavrel.exe -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake")"
echo "from $win32 and $win64"

zipdir="$work/zip"
mkdir -p "$zipdir/x64"
i686-w64-mingw32-strip -o "$zipdir/Tavrel.exe" "$win32/ui/Tavrel.exe"
x86_64-w64-mingw32-strip -o "$zipdir/x64/Tavrel.exe" "$win64/ui/Tavrel.exe"
# The RQ6 decoder for Windows itself, each beside the program of its
# architecture, and the scripts that register it (ASCII names, which every
# unzip tool keeps).
i686-w64-mingw32-strip -o "$zipdir/tavrel_wic.dll" "$win32/plugins/wic/tavrel_wic.dll"
x86_64-w64-mingw32-strip -o "$zipdir/x64/tavrel_wic.dll" "$win64/plugins/wic/tavrel_wic.dll"
# The download needs nothing beside it: only Windows' own libraries.
system_dlls='kernel32|user32|gdi32|comctl32|comdlg32|shell32|advapi32|ole32|oleaut32|msvcrt|ntdll|api-ms-win-.*'
for exe in "$zipdir/Tavrel.exe" "$zipdir/x64/Tavrel.exe" "$zipdir/tavrel_wic.dll" \
    "$zipdir/x64/tavrel_wic.dll"; do
    others="$(objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr '[:upper:]' '[:lower:]' |
        sed 's/\.dll$//' | grep -vxE "$system_dlls" || true)"
    [ -z "$others" ] || fail "${exe#"$zipdir/"} needs libraries Windows lacks: $others"
done
# Notepad shows UTF-8 text with a byte-order mark and CRLF line ends
# correctly on every Windows version.
crlf() { sed 's/$/\r/'; }
crlf <LICENSE >"$zipdir/LICENSE.txt"
for script in register-thumbnails.cmd unregister-thumbnails.cmd; do
    crlf <"packaging/windows/$script" >"$zipdir/$script"
done
{
    printf '\357\273\277'
    sed "s|@VERSION@|$version|" packaging/windows/README-ja.txt | crlf
} >"$zipdir/README-ja.txt"
find "$zipdir" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

zip="$dist/tavrel-$version-windows.zip"
rm -f "$zip"
(cd "$zipdir" && TZ=UTC zip -X -9 -q "$zip" Tavrel.exe tavrel_wic.dll x64/Tavrel.exe \
    x64/tavrel_wic.dll register-thumbnails.cmd unregister-thumbnails.cmd LICENSE.txt README-ja.txt)
echo "wrote $zip"
