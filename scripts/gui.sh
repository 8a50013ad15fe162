#!/usr/bin/env bash
# Runs the Windows program under Wine, with the sample disc as CD-ROM drive D:.
#   scripts/gui.sh                      opens the program on this display
#   scripts/gui.sh --screenshot FILE    runs it headless under Xvfb and saves a
#                                       PNG of the settings dialog after start-up
#   scripts/gui.sh --progress-screenshot FILE
#                                       the same, then converts Sg010 and saves
#                                       a PNG of the progress dialog when done
#   scripts/gui.sh --drive-screenshot FILE
#                                       the same, then opens the drive
#                                       selection dialog and saves a PNG of it
#   scripts/gui.sh --dpi N ...          at N dots per inch (144 is 150 %
#                                       scaling, 192 is 200 %); 96 by default
# The headless screen is 1920 x 1080.
# Builds what is missing first: Tavrel.exe, the tavrel tool (build/gui-native)
# and the sample disc (build/disc). Tavrel.exe is the 32-bit release
# (build/gui-win32) where this host runs 32-bit programs, else the 64-bit build
# (build/gui-win64); the script says which. The Wine prefix is build/gui-prefix;
# output files land in its Windows directory, build/gui-prefix/drive_c/windows.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
usage="usage: $0 [--dpi N] [--screenshot FILE] [--progress-screenshot FILE] [--drive-screenshot FILE]"
screenshot=""
progress_shot=""
drive_shot=""
dpi=96
while [ $# -gt 0 ]; do
    case "$1" in
    --screenshot) screenshot=$(realpath -m "${2:?--screenshot needs a file name}"); shift 2 ;;
    --progress-screenshot)
        progress_shot=$(realpath -m "${2:?--progress-screenshot needs a file name}")
        shift 2
        ;;
    --drive-screenshot)
        drive_shot=$(realpath -m "${2:?--drive-screenshot needs a file name}")
        shift 2
        ;;
    --dpi) dpi=${2:?--dpi needs a number}; shift 2 ;;
    -h | --help) sed -n '2,19p' "$0"; exit 0 ;;
    *) echo "$usage" >&2; exit 2 ;;
    esac
done

"$root/scripts/deps.sh" test

# shellcheck source=scripts/wine-env.sh
. "$root/scripts/wine-env.sh"
if [ "$TAVREL_WINE32" = yes ]; then
    arch=i686 build="$root/build/gui-win32"
    echo "Running the 32-bit release of Tavrel.exe" >&2
else
    arch=x86_64 build="$root/build/gui-win64"
    echo "Running the 64-bit build of Tavrel.exe: $TAVREL_WINE32_WHY" >&2
fi
exe="$build/ui/Tavrel.exe"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVREL_BUILD_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >/dev/null
cmake --build "$build" --target Tavrel --parallel >/dev/null

disc="$root/build/disc"
# shellcheck source=scripts/sample-disc.sh
. "$root/scripts/sample-disc.sh"
tavrel_sample_disc "$disc" "$root/build/gui-native" -DTAVREL_BUILD_TESTS=OFF

prefix="$root/build/gui-prefix"
[ "$dpi" = 96 ] || prefix+="-${dpi}dpi"
"$root/scripts/wine-cdrom-prefix.sh" "$prefix" "d=$disc" "dpi=$dpi"
export WINEPREFIX="$prefix"

if [ -z "$screenshot" ] && [ -z "$progress_shot" ] && [ -z "$drive_shot" ]; then
    exec "$TAVREL_WINE" "$exe"
fi

# Headless: a private X server, the program, pictures of its dialogs.
trap tavrel_wine_cleanup EXIT
tavrel_start_xvfb 150 199

# The window of this title, once it is there (Wine's windows are found by
# name, not by process).
wait_for_window() {
    local window=""
    for _ in $(seq 1 150); do
        window=$(xdotool search --name "^$1\$" 2>/dev/null | head -n 1) && [ -n "$window" ] && break
        sleep 0.2
    done
    [ -n "$window" ] || { echo "the dialog \"$1\" did not appear" >&2; return 1; }
    echo "$window"
}

shoot() {
    mkdir -p "$(dirname "$2")"
    import -window "$1" "$2"
    echo "$2"
}

tavrel_wine "$exe" >/dev/null 2>&1 &
settings=$(wait_for_window '設定')
sleep 1  # let it finish painting
[ -n "$screenshot" ] && shoot "$settings" "$screenshot"
if [ -n "$drive_shot" ]; then
    # "選択 (&S)" opens the drive selection dialog over the settings.
    xdotool windowfocus --sync "$settings"
    xdotool key alt+s
    drive=$(wait_for_window 'ドライブの選択')
    sleep 1
    shoot "$drive" "$drive_shot"
    xdotool windowfocus --sync "$drive"
    xdotool key Escape
    sleep 0.5
fi
if [ -n "$progress_shot" ]; then
    # Sg010 alone ("Sg0&10": Alt+1), then "変換開始 (&C)". The picture takes
    # a fraction of a second; the dialog stays until "確認" is pressed.
    # No window manager runs, so the keys go to the window with the focus.
    xdotool windowfocus --sync "$settings"
    xdotool key alt+1
    sleep 0.3
    xdotool key alt+c
    progress=$(wait_for_window '変換中')
    sleep 2  # done, and painted
    shoot "$progress" "$progress_shot"
fi
