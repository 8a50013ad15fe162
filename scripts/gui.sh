#!/usr/bin/env bash
# Runs the Windows program under Wine, with the sample disc as CD-ROM drive D:.
#   scripts/gui.sh                      opens the program on this display
#   scripts/gui.sh --screenshot FILE    runs it headless under Xvfb and saves a
#                                       PNG of the settings dialog after start-up
# Builds what is missing first: Tavrel.exe (32-bit, build/gui-win32), the
# tavrel tool (build/gui-native) and the sample disc (build/disc). The Wine
# prefix is build/gui-prefix; output files land in its Windows directory,
# build/gui-prefix/drive_c/windows.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
screenshot=""
while [ $# -gt 0 ]; do
    case "$1" in
    --screenshot) screenshot=$(realpath -m "${2:?--screenshot needs a file name}"); shift 2 ;;
    -h | --help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "usage: $0 [--screenshot FILE]" >&2; exit 2 ;;
    esac
done

"$root/scripts/deps.sh" test

exe="$root/build/gui-win32/ui/Tavrel.exe"
cmake -S "$root" -B "$root/build/gui-win32" -DCMAKE_BUILD_TYPE=Release -DTAVREL_BUILD_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$root/build/gui-win32" --target Tavrel --parallel >/dev/null

disc="$root/build/disc"
if [ ! -f "$disc/Extends/Sg010.rq6" ]; then
    cmake -S "$root" -B "$root/build/gui-native" -DCMAKE_BUILD_TYPE=Release -DTAVREL_BUILD_TESTS=OFF >/dev/null
    cmake --build "$root/build/gui-native" --target tavrel --parallel >/dev/null
    "$root/build/gui-native/tools/tavrel" sample-disc "$disc" >/dev/null
fi

prefix="$root/build/gui-prefix"
"$root/scripts/wine-cdrom-prefix.sh" "$prefix" "d=$disc"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

if [ -z "$screenshot" ]; then
    exec wine "$exe"
fi

# Headless: a private X server, the program, a picture of its dialog.
xvfb_pid=""
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
for n in $(seq 150 199); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    break
done
for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.2; done
wine "$exe" >/dev/null 2>&1 &
window=""
for _ in $(seq 1 150); do
    window=$(xdotool search --name '^設定$' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
    sleep 0.2
done
[ -n "$window" ] || { echo "the settings dialog did not appear" >&2; exit 1; }
sleep 1  # let it finish painting
mkdir -p "$(dirname "$screenshot")"
import -window "$window" "$screenshot"
echo "$screenshot"
