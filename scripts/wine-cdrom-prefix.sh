#!/usr/bin/env bash
# Makes a Wine prefix in which folders appear as CD-ROM drives:
#   scripts/wine-cdrom-prefix.sh PREFIX [d=FOLDER e=FOLDER ...] [dpi=N]
# With no drive given, a prefix of its own with no drive but C: and Z:.
# dpi=N makes the screen's scaling N dots per inch (96 is 100 %, 144 is
# 150 %, 192 is 200 %).
# The prefix is a cheap copy of the project's base prefix (build/wine-prefix,
# made first if needed): the large, read-only parts are hard links, the
# registry is copied. Changing drive types needs a restart of the prefix's
# wineserver, so the drives get a prefix of their own instead of the shared
# one, where other programs may be running. Remade only when the base prefix
# or the drive list changed; safe to run from several processes at once.
set -euo pipefail

[ $# -ge 1 ] || { echo "usage: $0 PREFIX [d=FOLDER e=FOLDER ...]" >&2; exit 2; }
prefix=$(realpath -m "$1")
shift

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# The base prefix is wine-env.sh's default.
unset WINEPREFIX
# shellcheck source=scripts/wine-env.sh
. "$root/scripts/wine-env.sh"
base="$WINEPREFIX"
tavrel_wine_prefix_init

drives=()
dpi=96
for arg in "$@"; do
    case "$arg" in
    dpi=*)
        dpi=${arg#dpi=}
        [[ $dpi =~ ^[1-9][0-9]*$ ]] || { echo "$0: bad dpi in '$arg'" >&2; exit 2; }
        continue
        ;;
    esac
    letter=${arg%%=*}
    folder=${arg#*=}
    case "$letter" in [a-y]) ;; *) echo "$0: bad drive letter in '$arg'" >&2; exit 2 ;; esac
    mkdir -p "$folder"
    drives+=("$letter=$(realpath "$folder")")
done

mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9

want="$(cat "$base/.tavrel-prefix-ready") unmanaged dpi=$dpi ${drives[*]}"
stamp="$prefix/.tavrel-cdrom-ready"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then
    exit 0
fi

export WINEPREFIX="$prefix"
[ -d "$prefix" ] && { tavrel_wineserver -k >/dev/null 2>&1 || true; rm -rf "$prefix"; }
mkdir -p "$prefix/dosdevices"
cp -al "$base/drive_c" "$prefix/drive_c"
cp -p "$base"/*.reg "$base/.update-timestamp" "$base/.tavrel-prefix-ready" "$prefix/"
ln -s ../drive_c "$prefix/dosdevices/c:"
ln -s / "$prefix/dosdevices/z:"
for d in "${drives[@]}"; do
    ln -s "${d#*=}" "$prefix/dosdevices/${d%%=*}:"
    tavrel_wine reg add 'HKLM\Software\Wine\Drives' /v "${d%%=*}:" /d cdrom /f /reg:64 >/dev/null 2>&1
done
# Windows that no window manager manages: under a bare X server (Xvfb) Wine
# then draws their frames itself and does not wait for a manager's answer
# whenever a window is hidden.
tavrel_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# The scaling. DpiScalingVer stays unset: with it Wine would read the
# program's manifest but refuse its per-monitor awareness.
tavrel_wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
# The mount manager reads the drive types when the server starts.
tavrel_wineserver -k >/dev/null 2>&1 || true
tavrel_wineserver -w
printf '%s\n' "$want" >"$stamp"
