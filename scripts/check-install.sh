#!/usr/bin/env bash
# Checks what is installed and shipped:
#   scripts/check-install.sh [BUILD-DIR]        (default build/native, already built)
#
# 0. The version of CMakeLists.txt is the one the release notes, the README
#    and the manifest name.
# 1. Installs BUILD-DIR into a temporary DESTDIR with prefix /usr, then runs
#    the installed tavrel (--version, a conversion, a wallpaper written
#    without setting it, a thumbnail through the thumbnailer entry), renders
#    the manual page, drives the bash completion and has
#    update-mime-database read the MIME type.
#    Where BUILD-DIR has the gdk-pixbuf loader, it is installed too.
# 2. Where dpkg-deb, lintian, zip and unzip are installed, runs
#    scripts/package.sh with the programs built beside BUILD-DIR (win32, win64;
#    TAVREL_PACKAGE_BUILDS overrides) and checks the two .debs and the zip.
# 3. Run as root, where no tavrel package is installed yet: installs both
#    .debs with dpkg, finds the loader in gdk-pixbuf's list and opens a
#    picture through GdkPixbuf from Python, then removes them again and finds
#    the loader gone from the list.
#
# One line per check; ends with "check-install: N passed, N failed, N skipped"
# and exits with 1 when a check failed.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build/native}" && pwd)" || exit 1
version="$(sed -n 's/^project(Tavrel VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
export LC_ALL=C.UTF-8

passed=0 failed=0 skipped=0
# check NAME COMMAND...: one passed or failed check, with the output of a
# failing command.
check() {
    local name=$1 out
    shift
    if out="$("$@" 2>&1)"; then
        passed=$((passed + 1))
        echo "ok    $name"
    else
        failed=$((failed + 1))
        echo "FAIL  $name"
        [ -n "$out" ] && printf '%s\n' "$out" | head -n 20 | sed 's/^/      /'
    fi
}
skip() {
    skipped=$((skipped + 1))
    echo "skip  $1"
}
# u32le FILE OFFSET and u16le FILE OFFSET: a little-endian number in a file.
u32le() { od -An -tu4 -j "$2" -N4 --endian=little "$1" | tr -d ' '; }
u16le() { od -An -tu2 -j "$2" -N2 --endian=little "$1" | tr -d ' '; }
u32be() { od -An -tu4 -j "$2" -N4 --endian=big "$1" | tr -d ' '; }
# utf16 TEXT: a grep -P pattern for TEXT in UTF-16LE (ASCII TEXT only).
utf16() { printf %s "$1" | sed 's/[.]/\\./g; s/\(\\\?.\)/\1\\x00/g'; }
# has FILE TEXT: FILE holds TEXT, said when it does not.
has() { grep -qF -- "$2" "$1" || { echo "$1 lacks: $2"; return 1; }; }

# ------------------------------------------------------------ the release ---
# Every text that names the release names this one: the news, the Debian
# changelog, the README's install commands, the manifest of Tavrel.exe and
# the Japanese read-me's history (its title is checked in the zip).
release_named() {
    has "$root/NEWS.md" "## $version (" &&
        has "$root/README.md" "dist/tavrel_${version}_amd64.deb" &&
        has "$root/resources/tavrel.manifest" "name=\"Tavrel\" version=\"$version.0\"" &&
        grep -q "^$version " "$root/packaging/windows/README-ja.txt" &&
        [ "$(head -n1 "$root/packaging/debian/changelog")" = "tavrel ($version) unstable; urgency=medium" ] ||
        { echo "NEWS.md, README.md, tavrel.manifest, README-ja.txt or the changelog lag behind $version"; return 1; }
}
check "the release notes, the README and the manifest name $version" release_named

# ------------------------------------------------------ the installed tree ---
dest="$tmp/dest"
usr="$dest/usr"
tavrel="$usr/bin/tavrel"
loader_so=libpixbufloader-rq6.so
loader_built=no
[ -f "$build/plugins/pixbuf/$loader_so" ] && loader_built=yes
installed() {
    DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null || return 1
    local f missing=0
    for f in bin/tavrel share/man/man1/tavrel.1 share/bash-completion/completions/tavrel \
        share/mime/packages/tavrel-rq6.xml share/thumbnailers/tavrel.thumbnailer \
        share/doc/tavrel/README.md share/doc/tavrel/NEWS.md share/doc/tavrel/LICENSE; do
        [ -f "$usr/$f" ] || { echo "missing /usr/$f" && missing=1; }
    done
    [ -x "$tavrel" ] || { echo "/usr/bin/tavrel is not executable" && missing=1; }
    if [ $loader_built = yes ] && [ -z "$(find "$usr/lib" -name "$loader_so" -path '*/gdk-pixbuf-2.0/*/loaders/*')" ]; then
        echo "no $loader_so in a gdk-pixbuf loaders folder" && missing=1
    fi
    return $missing
}
check "cmake --install puts every file in place" installed

# The help of the tool and of each command, for what the manual must name.
"$tavrel" --help >"$tmp/help.txt" 2>&1
for command in convert extract pack info thumbnail sample-disc wallpaper; do
    "$tavrel" "$command" --help >>"$tmp/help.txt" 2>/dev/null
done
runs() {
    local out
    out="$("$tavrel" --version)" || return 1
    [[ $out == *"$version"* ]] || { echo "--version: $out" && return 1; }
}
check "the installed tavrel runs" runs

converts() {
    "$tavrel" sample-disc "$tmp/disc" >/dev/null || return 1
    "$tavrel" convert "$tmp/disc/Extends/Sg006.rq6" --size 320x240 -o "$tmp/small.bmp" || return 1
    [ "$(head -c2 "$tmp/small.bmp")" = BM ] &&
        [ "$(u32le "$tmp/small.bmp" 18)x$(u32le "$tmp/small.bmp" 22)" = 320x240 ]
}
check "the installed tavrel converts a sample picture to 320x240" converts

# Written where the desktop's pictures go, without touching any setting.
wallpaper() {
    local out want="$tmp/data/backgrounds/tavrel/Sg006-320x180.png"
    out="$(env -u DISPLAY XDG_DATA_HOME="$tmp/data" "$tavrel" wallpaper --no-set --size 320x180 \
        "$tmp/disc/Extends/Sg006.rq6")" || return 1
    [ "$out" = "$want" ] || { echo "printed: $out" && return 1; }
    [ "$(u32be "$want" 16)x$(u32be "$want" 20)" = 320x180 ]
}
check "the installed tavrel writes a 320x180 wallpaper into XDG_DATA_HOME" wallpaper

# The thumbnailer entry's own command line, as a file manager runs it.
thumbnails() {
    local entry="$usr/share/thumbnailers/tavrel.thumbnailer" exec
    exec="$(sed -n 's/^Exec=//p' "$entry")"
    exec="${exec//%s/128}"
    exec="${exec//%i/$tmp/disc/Extends/Sg010.rq6}"
    exec="${exec//%o/$tmp/thumb.png}"
    PATH="$usr/bin:$PATH" command -v "$(sed -n 's/^TryExec=//p' "$entry")" >/dev/null || return 1
    # shellcheck disable=SC2086 # the entry's words, as the desktop splits them
    PATH="$usr/bin:$PATH" $exec || return 1
    # An 8-bit RGB PNG whose longer side is 128: 128 x 96 for a 4:3 picture.
    [ "$(od -An -tx1 -N8 "$tmp/thumb.png" | tr -d ' ')" = 89504e470d0a1a0a ] &&
        [ "$(u32be "$tmp/thumb.png" 16)x$(u32be "$tmp/thumb.png" 20)" = 128x96 ] &&
        [ "$(od -An -tu1 -j24 -N2 "$tmp/thumb.png" | xargs)" = "8 2" ]
}
check "the thumbnailer entry writes a 128x96 RGB PNG" thumbnails

# The installed catalogue is found: a usage error in Japanese.
japanese() {
    local out status
    out="$(LANGUAGE='' LC_ALL=ja_JP.UTF-8 "$tavrel" frobnicate 2>&1)"
    status=$?
    if [ "$status" -ne 64 ] || ! LC_ALL=C grep -qP '[\x80-\xff]' <<<"$out"; then
        echo "status $status: $out"
        return 1
    fi
}
if [ ! -f "$usr/share/locale/ja/LC_MESSAGES/tavrel.mo" ] || ! locale -a | grep -qix 'ja_JP.utf-\?8'; then
    skip "Japanese messages (no catalogue installed, or no ja_JP.UTF-8 locale)"
else
    check "the installed tavrel speaks Japanese in a Japanese locale" japanese
fi

man_page() {
    local page="$usr/share/man/man1/tavrel.1" warnings option missing=0
    warnings="$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)"
    [ -z "$warnings" ] || { echo "$warnings" && return 1; }
    # Every command and option --help names is documented.
    MANWIDTH=80 man -E ascii -l "$page" 2>/dev/null | col -b >"$tmp/man.txt"
    for option in $(grep -oE -- '(^| )--?[a-z][a-z-]*' "$tmp/help.txt" | sort -u) \
        convert extract pack info thumbnail sample-disc wallpaper; do
        grep -q -- "$option" "$tmp/help.txt" || continue
        grep -qF -- "$option" "$tmp/man.txt" || { echo "not in the manual: $option" && missing=1; }
    done
    return $missing
}
check "the manual page renders without warnings and names every option" man_page

check "the bash completion completes commands, every option and files" \
    env TAVREL="$tavrel" bash "$root/packaging/test-completion.sh" "$usr/share/bash-completion/completions/tavrel"

mime() {
    local db="$tmp/mime" out
    mkdir -p "$db/packages"
    cp "$usr/share/mime/packages/tavrel-rq6.xml" "$db/packages/"
    out="$(XDG_DATA_HOME="$tmp" XDG_DATA_DIRS="$tmp" update-mime-database "$db" 2>&1)"
    [ -z "$out" ] || { echo "$out" && return 1; }
    has "$db/globs2" "image/x-rq6:*.rq6" && has "$db/subclasses" "image/x-rq6 application/octet-stream" &&
        has "$db/magic" "[50:image/x-rq6]" || return 1
    # The magic rule is "RQ61" at offset 0, and the pictures begin with it.
    # In the compiled file: ">0=", the value's length (0, 4), "RQ61".
    od -An -tx1 -v "$db/magic" | tr -d ' \n' | grep -q 3e303d000452513631 ||
        { echo "magic: no RQ61 at 0" && return 1; }
    [ "$(head -c4 "$tmp/disc/Extends/Sg006.rq6")" = RQ61 ] || return 1
    has "$usr/share/thumbnailers/tavrel.thumbnailer" "MimeType=image/x-rq6;"
}
check "update-mime-database reads the RQ6 type; the thumbnailer takes it" mime

# --------------------------------------------------------------- packages ---
tools_missing=""
for t in dpkg-deb dpkg-shlibdeps lintian zip unzip; do
    command -v "$t" >/dev/null || tools_missing+=" $t"
done
if [ -n "$tools_missing" ]; then
    skip "the packages (missing:$tools_missing)"
else
    # package.sh takes the programs from native, win32 and win64 in one folder.
    if [ -z "${TAVREL_PACKAGE_BUILDS+set}" ] && [ "$(basename "$build")" = native ]; then
        export TAVREL_PACKAGE_BUILDS="${build%/native}"
    fi
    check "scripts/package.sh writes the packages" bash "$root/scripts/package.sh"
    deb="$root/dist/tavrel_${version}_$(dpkg --print-architecture).deb"
    zip="$root/dist/tavrel-$version-windows.zip"

    deb_contents() {
        dpkg-deb -c "$deb" >"$tmp/deb.txt" || return 1
        local f bad
        for f in usr/bin/tavrel usr/share/man/man1/tavrel.1.gz usr/share/doc/tavrel/copyright \
            usr/share/doc/tavrel/changelog.gz usr/share/doc/tavrel/NEWS.md \
            usr/share/mime/packages/tavrel-rq6.xml; do
            has "$tmp/deb.txt" " ./$f" || return 1
        done
        # root-owned; directories and the program 0755, every other file 0644.
        bad="$(awk '$2 != "root/root" ||
            ($1 !~ /^d/ && $6 != "./usr/bin/tavrel" && $1 != "-rw-r--r--") ||
            (($1 ~ /^d/ || $6 == "./usr/bin/tavrel") && $1 !~ /^.rwxr-xr-x$/)' "$tmp/deb.txt")"
        [ -z "$bad" ] || { echo "wrong owner or mode: $bad" && return 1; }
        [ "$(dpkg-deb -f "$deb" Section)/$(dpkg-deb -f "$deb" Priority)" = graphics/optional ] &&
            dpkg-deb -f "$deb" Depends | grep -q 'libpng16-16 (>= ' || return 1
        # The wallpaper command's libraries are loaded at run time: recommended
        # only. The loader and its libraries are in a package of their own.
        ! dpkg-deb -f "$deb" Depends | grep -qiE 'libx11|libxrandr|libglib|gdk-pixbuf' &&
            [ "$(dpkg-deb -f "$deb" Recommends)" = "libx11-6, libxrandr2, libglib2.0-bin" ] &&
            ! grep -q "$loader_so" "$tmp/deb.txt"
    }
    check "the .deb holds the files, root-owned, 0755/0644, with its dependencies" deb_contents

    # Warnings and notes are shown, errors fail.
    lintian --fail-on error "$deb" >"$tmp/lintian.txt" 2>&1
    check "lintian finds no error in the .deb" test $? -eq 0
    grep -v '^running with root privileges' "$tmp/lintian.txt" | sed 's/^/      lintian: /'

    ldeb="$root/dist/tavrel-pixbuf-loader_${version}_$(dpkg --print-architecture).deb"
    moduledir="$(pkg-config --variable=gdk_pixbuf_moduledir gdk-pixbuf-2.0 2>/dev/null)"
    loader_deb() {
        local files want
        files="$(dpkg-deb -c "$ldeb" | awk '$1 !~ /^d/ { print $1, $2, $6 }')" || return 1
        want="-rw-r--r-- root/root .$moduledir/$loader_so
-rw-r--r-- root/root ./usr/share/doc/tavrel-pixbuf-loader/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/tavrel-pixbuf-loader/copyright"
        [ "$(sort <<<"$files")" = "$want" ] || { echo "files: $files" && return 1; }
        # No maintainer scripts: gdk-pixbuf's trigger does the registering.
        [ "$(dpkg-deb --ctrl-tarfile "$ldeb" | tar -t | sort | xargs)" = "./ ./control ./md5sums" ] ||
            { echo "control files: $(dpkg-deb --ctrl-tarfile "$ldeb" | tar -t | xargs)" && return 1; }
        [ "$(dpkg-deb -f "$ldeb" Multi-Arch)" = same ] &&
            dpkg-deb -f "$ldeb" Depends | grep -q 'libgdk-pixbuf-2.0-0 (>= ' &&
            dpkg-deb -f "$ldeb" Depends | grep -q "tavrel (= $version)"
    }
    if [ -z "$moduledir" ]; then
        skip "the loader's .deb (no gdk-pixbuf development files)"
    else
        check "the loader's .deb holds the loader alone, no scripts, Multi-Arch: same" loader_deb
        lintian --fail-on error "$ldeb" >"$tmp/lintian-loader.txt" 2>&1
        check "lintian finds no error in the loader's .deb" test $? -eq 0
        grep -v '^running with root privileges' "$tmp/lintian-loader.txt" | sed 's/^/      lintian: /'
    fi

    zip_contents() {
        [ "$(unzip -Z1 "$zip" | LC_ALL=C sort | xargs)" = "LICENSE.txt README-ja.txt Tavrel.exe \
register-thumbnails.cmd tavrel_wic.dll unregister-thumbnails.cmd x64/Tavrel.exe \
x64/tavrel_wic.dll" ] ||
            { unzip -l "$zip" && return 1; }
        unzip -q -o "$zip" -d "$tmp/zip" || return 1
        # The PE header's machine: i386 at the top, x86-64 in x64/.
        local exe machine pe
        for exe in Tavrel.exe:14c x64/Tavrel.exe:8664 tavrel_wic.dll:14c x64/tavrel_wic.dll:8664; do
            pe="$(u32le "$tmp/zip/${exe%:*}" 60)"
            machine="$(printf '%x' "$(u16le "$tmp/zip/${exe%:*}" $((pe + 4)))")"
            if [ "$(od -An -tx1 -j "$pe" -N4 "$tmp/zip/${exe%:*}" | xargs)" != "50 45 00 00" ] ||
                [ "$machine" != "${exe#*:}" ]; then
                echo "${exe%:*}: no PE header for machine ${exe#*:} (found $machine)"
                return 1
            fi
        done
        # Each carries this version in its version resource (UTF-16 key and value).
        local product
        product="$(utf16 ProductVersion)\\x00\\x00(\\x00\\x00)?$(utf16 "$version")\\x00\\x00"
        for exe in Tavrel.exe x64/Tavrel.exe tavrel_wic.dll x64/tavrel_wic.dll; do
            LC_ALL=C grep -qaP "$product" "$tmp/zip/$exe" ||
                { echo "$exe: no ProductVersion $version" && return 1; }
        done
        # Notepad's UTF-8: a byte-order mark, CRLF line ends, valid UTF-8.
        local readme="$tmp/zip/README-ja.txt"
        [ "$(head -c3 "$readme" | od -An -tx1 | xargs)" = "ef bb bf" ] &&
            ! grep -q $'[^\r]$' "$readme" && iconv -f UTF-8 -t UTF-16 "$readme" >/dev/null &&
            grep -q "Tavrel $version" "$readme" && grep -q "^$version " "$readme" &&
            grep -q 'register-thumbnails.cmd' "$readme" || return 1
        # The scripts, for cmd.exe: CRLF line ends, ASCII only.
        local script
        for script in register-thumbnails.cmd unregister-thumbnails.cmd; do
            ! grep -q $'[^\r]$' "$tmp/zip/$script" && ! LC_ALL=C grep -qP '[^\x00-\x7F]' "$tmp/zip/$script" ||
                { echo "$script: not CRLF ASCII" && return 1; }
        done
    }
    check "the zip: Tavrel.exe and tavrel_wic.dll, 32-bit and in x64/, the register scripts, licence, Japanese read-me" zip_contents
fi

# ------------------------------------------------ the packages installed ---
# gdk-pixbuf-query-loaders is not on PATH: it lives beside the loaders folder.
query_loaders="$(pkg-config --variable=gdk_pixbuf_query_loaders gdk-pixbuf-2.0 2>/dev/null)"
cache_file="$(pkg-config --variable=gdk_pixbuf_cache_file gdk-pixbuf-2.0 2>/dev/null)"
# lists_rq6 yes|no: whether gdk-pixbuf's loader list (the one the program
# writes from the loaders folder, and the cache the trigger wrote) has RQ6.
lists_rq6() {
    local want=$1 listed=no cached=no
    "$query_loaders" 2>/dev/null | grep -q '^"rq6" ' && listed=yes
    grep -q '^"rq6" ' "$cache_file" && cached=yes
    [ "$listed/$cached" = "$want/$want" ] || { echo "rq6 listed: $listed, in $cache_file: $cached" && return 1; }
}
if [ "$(id -u)" -ne 0 ] || [ -z "${ldeb:-}" ] || [ ! -f "${ldeb:-}" ] || [ ! -x "$query_loaders" ]; then
    skip "installing the packages (needs root, the packages and gdk-pixbuf-query-loaders)"
elif dpkg-query -W -f='${Status}' tavrel tavrel-pixbuf-loader 2>/dev/null | grep -q 'ok installed'; then
    skip "installing the packages (a tavrel package is already installed here)"
else
    installs() {
        dpkg -i "$deb" "$ldeb" >"$tmp/dpkg.txt" 2>&1 || { cat "$tmp/dpkg.txt" && return 1; }
        lists_rq6 yes
    }
    check "dpkg -i of both packages: gdk-pixbuf lists the rq6 loader" installs
    opens() {
        local out
        out="$(/usr/bin/python3 - "$tmp/disc/Extends/Sg008.rq6" <<'PY'
import sys, gi
gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf
pixbuf = GdkPixbuf.Pixbuf.new_from_file_at_size(sys.argv[1], 256, 256)
print(pixbuf.get_width(), pixbuf.get_height(), pixbuf.get_n_channels())
PY
)" || return 1
        [ "$out" = "256 192 3" ] || { echo "opened as: $out" && return 1; }
    }
    if /usr/bin/python3 -c 'import gi; gi.require_version("GdkPixbuf", "2.0")' 2>/dev/null; then
        check "the installed loader opens a picture through GdkPixbuf in Python, at 256x192" opens
    else
        skip "a picture through GdkPixbuf in Python (no python3-gi, gir1.2-gdkpixbuf-2.0)"
    fi
    removes() {
        dpkg -P tavrel-pixbuf-loader tavrel >"$tmp/dpkg.txt" 2>&1 || { cat "$tmp/dpkg.txt" && return 1; }
        lists_rq6 no
    }
    check "dpkg -P of both packages: the rq6 loader is gone from the list" removes
fi

echo "check-install: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
