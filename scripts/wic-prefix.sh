#!/usr/bin/env bash
# A throwaway Wine prefix in which the RQ6 decoder tavrel_wic.dll is
# registered for all users (Wine's WIC reads no per-user classes), for the
# WIC tests and scripts/bench-wic.sh:
#
#   wic-prefix.sh create PREFIX DLL [TOOL DIR]
#       makes PREFIX afresh and registers DLL with regsvr32. With TOOL, the
#       native tavrel, it also writes the full-size sample picture
#       DIR/Sg010.rq6 and the tool's 16-bit extract of it, DIR/Sg010.ppm.
#   wic-prefix.sh unregister PREFIX DLL CLIENT REPORT
#       regsvr32 /u, then the test client CLIENT's Unregistered cases (report
#       to REPORT); then the zip's register-thumbnails.cmd and
#       unregister-thumbnails.cmd, each followed by a look at the registry.
#   wic-prefix.sh remove PREFIX [DLL]
#
# The prefix is a cheap copy of the project's base prefix (hard links and a
# copied registry), so it costs a second or two and no disk to speak of.
# A 32-bit DLL on a host that runs no 32-bit programs: exits 77 (skipped).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
usage() {
    sed -n '6,15p' "$0" >&2
    exit 2
}
[ $# -ge 2 ] || usage
command=$1
prefix=$(realpath -m "$2")

unset WINEPREFIX
# shellcheck source=scripts/wine-env.sh
. "$root/scripts/wine-env.sh"

# The decoder's class, as the registry names it.
clsid='{A59266A6-FCCD-4F19-81FF-260626644F72}'

windows_path() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }

# Sets bits, regsvr32 and view for DLL; exits 77 where it cannot run.
dll_kind() {
    if tavrel_pe_is_32bit "$1"; then
        if [ "$TAVREL_WINE32" != yes ]; then
            echo "SKIPPED: $(basename "$1") is a 32-bit DLL and $TAVREL_WINE32_WHY"
            exit 77
        fi
        bits=32 regsvr32='C:\windows\syswow64\regsvr32.exe' view=/reg:32
    else
        bits=64 regsvr32=regsvr32 view=/reg:64
    fi
}

# Whether the registry has KEY (in the DLL's view).
has_key() { tavrel_wine reg query "$1" "$view" >/dev/null 2>&1; }

remove_prefix() {
    if [ -d "$prefix" ]; then
        WINEPREFIX="$prefix" tavrel_wineserver -k >/dev/null 2>&1 || true
        rm -rf "$prefix"
    fi
    rm -f "$prefix.lock"
}

case "$command" in
create)
    [ $# -eq 3 ] || [ $# -eq 5 ] || usage
    dll=$3
    dll_kind "$dll"
    remove_prefix
    bash "$root/scripts/wine-cdrom-prefix.sh" "$prefix"
    export WINEPREFIX="$prefix"
    tavrel_wine "$regsvr32" /s "$(windows_path "$dll")"
    has_key "HKLM\\Software\\Classes\\CLSID\\$clsid\\InprocServer32" ||
        { echo "regsvr32 left no class key for $dll" >&2; exit 1; }
    echo "tavrel_wic.dll ($bits-bit) registered in $prefix"
    if [ $# -eq 5 ]; then
        tool=$4 dir=$5
        mkdir -p "$dir"
        # A picture left from an earlier run might not be this tool's.
        rm -f "$dir/Sg010.rq6" "$dir/Sg010.ppm"
    fi
    if [ $# -eq 5 ] && [ -x "$tool" ]; then
        "$tool" sample-disc "$dir/disc" >/dev/null
        mv "$dir/disc/Extends/Sg010.rq6" "$dir/Sg010.rq6"
        rm -rf "$dir/disc"
        "$tool" extract --format ppm -o "$dir/Sg010.ppm" "$dir/Sg010.rq6" >/dev/null
        echo "$dir/Sg010.ppm: extracted by $tool"
    fi
    ;;
unregister)
    [ $# -eq 5 ] || usage
    dll=$3 client=$4 report=$5
    dll_kind "$dll"
    export WINEPREFIX="$prefix"
    failed=0
    tavrel_wine "$regsvr32" /s /u "$(windows_path "$dll")" || failed=1
    "$root/scripts/wine-run.sh" "$client" --gtest_filter='Unregistered.*' \
        --gtest_output="xml:$report" || failed=1

    # The zip's scripts, from a folder laid out as the zip is, with the
    # parentheses of "Program Files (x86)" in its name. Under Wine every
    # user counts as an administrator, so they register for all users.
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    zip="$scratch/Tavrel (x86)"
    mkdir "$zip"
    target=$zip/tavrel_wic.dll
    [ "$bits" = 64 ] && mkdir "$zip/x64" && target=$zip/x64/tavrel_wic.dll
    cp "$dll" "$target"
    for script in register-thumbnails.cmd unregister-thumbnails.cmd; do
        sed 's/$/\r/' "$root/packaging/windows/$script" >"$zip/$script"
    done
    classes='HKLM\Software\Classes'
    # Started by its bare name from that folder, as a double click would; it
    # must succeed and say what it did.
    zip_script() {
        local out
        out=$(cd "$zip" && tavrel_wine cmd /c "$1" /q) || return 1
        printf '%s\n' "$out" | tr -d '\r'
        grep -qF "$2" <<<"$out"
    }
    server() { tavrel_wine reg query "$classes\\CLSID\\$clsid\\InprocServer32" /ve "$view" 2>&1; }
    if zip_script register-thumbnails.cmd "Registered \"$(windows_path "$target")\" for all users." &&
        grep -qiF "$(windows_path "$target")" <<<"$(server)" && has_key "$classes\\.rq6"; then
        echo "register-thumbnails.cmd registered $target"
    else
        echo "register-thumbnails.cmd did not register $target" >&2
        failed=1
    fi
    if zip_script unregister-thumbnails.cmd "Removed \"$(windows_path "$target")\"." &&
        ! has_key "$classes\\CLSID\\$clsid" && ! has_key "$classes\\.rq6" &&
        ! has_key "$classes\\SystemFileAssociations\\.rq6"; then
        echo "unregister-thumbnails.cmd removed it"
    else
        echo "unregister-thumbnails.cmd left entries behind" >&2
        failed=1
    fi
    exit $failed
    ;;
remove)
    [ $# -le 3 ] || usage
    [ $# -eq 2 ] || dll_kind "$3"
    remove_prefix
    ;;
*)
    usage
    ;;
esac
