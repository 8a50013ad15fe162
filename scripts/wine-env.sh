# Wine environment for running the Windows builds.  Source it:
#   . scripts/wine-env.sh && tavrel_wine_prefix_init
# Then `tavrel_wine prog.exe` (or scripts/wine-run.sh prog.exe) runs in the
# project's own prefix.
#
# Hosts come in two kinds: kernels that run 32-bit programs and kernels that do
# not.  Debian's `wine` wrapper always prefers the 32-bit loader once wine32 is
# installed, so on the second kind every `wine ...` fails, even for a 64-bit
# program.  This file decides once which loader to use and exports the choice,
# so that every script, ctest and the programs they start agree:
#   TAVREL_WINE          the loader: runs wineboot, reg, regedit and programs
#   TAVREL_WINESERVER    the matching server
#   TAVREL_WINE32        yes when 32-bit programs run here, else no
#   TAVREL_WINE32_WHY    why not, in a few words (empty when they run)
# A 64-bit prefix made while the 32-bit Wine works runs both the x86_64 and
# the i686 builds.
# shellcheck shell=bash

TAVREL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$TAVREL_ROOT/build/wine-prefix}"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko: the programs need neither, and their installers would prompt.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Debian installs the real loaders here; elsewhere the commands on PATH are used.
TAVREL_WINE_LIBDIR="${TAVREL_WINE_LIBDIR:-/usr/lib/wine}"

tavrel_wine_detect() {
    [ -n "${TAVREL_WINE:-}" ] && [ -n "${TAVREL_WINE32:-}" ] && return 0
    local lib=$TAVREL_WINE_LIBDIR out
    TAVREL_WINE32=no
    TAVREL_WINE32_WHY=""
    if [ -x "$lib/wine" ]; then
        if out=$("$lib/wine" --version 2>&1); then
            TAVREL_WINE32=yes
        elif [[ $out == *"Exec format error"* ]]; then
            TAVREL_WINE32_WHY="this kernel runs no 32-bit programs"
        else
            TAVREL_WINE32_WHY="the 32-bit Wine loader does not start: ${out%%$'\n'*}"
        fi
    elif [ -x "$lib/wine64" ]; then
        TAVREL_WINE32_WHY="the 32-bit Wine (wine32:i386) is not installed"
    fi
    if [ "$TAVREL_WINE32" = yes ]; then
        # The 32-bit loader hands 64-bit programs on to the 64-bit one itself.
        TAVREL_WINE="$lib/wine"
    elif [ -x "$lib/wine64" ]; then
        TAVREL_WINE="$lib/wine64"
        # Programs that Wine starts from inside (wineboot's helpers, a test
        # starting Tavrel.exe) use this loader too.
        export WINELOADER="$lib/wine64"
    else
        # Not a Debian layout: trust whatever `wine` is.
        TAVREL_WINE=$(command -v wine || echo wine)
        TAVREL_WINE32=yes
        TAVREL_WINE32_WHY=""
    fi
    if [ -x "$lib/wineserver64" ]; then
        TAVREL_WINESERVER="$lib/wineserver64"
    else
        TAVREL_WINESERVER=$(command -v wineserver || echo wineserver)
    fi
    export TAVREL_WINE TAVREL_WINESERVER TAVREL_WINE32 TAVREL_WINE32_WHY
}
tavrel_wine_detect

tavrel_wine() { "$TAVREL_WINE" "$@"; }
tavrel_wineserver() { "$TAVREL_WINESERVER" "$@"; }

# One line for logs: which Wine runs what on this host.
tavrel_wine_describe() {
    if [ "$TAVREL_WINE32" = yes ]; then
        echo "Wine runs 32- and 64-bit programs here ($TAVREL_WINE)"
    else
        echo "Wine runs 64-bit programs only here ($TAVREL_WINE): $TAVREL_WINE32_WHY"
    fi
}

# Windows need an X display: starts a private X server on the first free
# display of FIRST ... LAST and waits until it answers. Exports DISPLAY and
# sets TAVREL_XVFB_PID, for the caller to stop it. The screen is a full-HD
# one, the most common desktop today, large enough for the settings dialog
# at 200 % scaling: TAVREL_XVFB_SCREEN (WxHxDEPTH) chooses another.
tavrel_start_xvfb() {
    local first=$1 last=$2 log=${3:-/dev/null} n screen=${TAVREL_XVFB_SCREEN:-1920x1080x24}
    for n in $(seq "$first" "$last"); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 "$screen" -nolisten tcp >"$log" 2>&1 &
        TAVREL_XVFB_PID=$!
        for _ in $(seq 1 50); do
            if xdpyinfo -display ":$n" >/dev/null 2>&1; then
                export DISPLAY=":$n"
                return 0
            fi
            kill -0 "$TAVREL_XVFB_PID" 2>/dev/null || break
            sleep 0.2
        done
        kill "$TAVREL_XVFB_PID" >/dev/null 2>&1
        wait "$TAVREL_XVFB_PID" 2>/dev/null
        TAVREL_XVFB_PID=""
    done
    echo "could not start Xvfb" >&2
    return 1
}

# Stops what a headless run started: the prefix's Wine server, and with it
# every program still running in the prefix, and the X server that
# tavrel_start_xvfb started.  Meant for the EXIT trap:
#   trap tavrel_wine_cleanup EXIT
tavrel_wine_cleanup() {
    tavrel_wineserver -k >/dev/null 2>&1 || true
    if [ -n "${TAVREL_XVFB_PID:-}" ]; then
        kill "$TAVREL_XVFB_PID" >/dev/null 2>&1 || true
        wait "$TAVREL_XVFB_PID" 2>/dev/null || true
        TAVREL_XVFB_PID=""
    fi
}

# True when the file is a 32-bit x86 Windows program (PE machine 0x014c).
tavrel_pe_is_32bit() {
    local pe machine
    pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ') || return 1
    [ -n "$pe" ] || return 1
    machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
    [ "$machine" = 014c ]
}

# The prefix's settings, as a registry file: UTF-16 with a byte-order mark,
# so the Japanese font names survive whatever locale this shell runs in.
tavrel_wine_settings_reg() {
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n'
        printf '"ShowCrashDialog"=dword:00000000\r\n\r\n'
        # The dialogs are laid out for the Japanese Windows UI font, which Wine
        # lacks: without a replacement every Japanese glyph is drawn as a box.
        # Monapo (Debian's fonts-monapo) is made to almost the same widths, so
        # every label keeps the room it was given; the IPA and VL fonts, for
        # one, have wider Latin glyphs and cut "1'024 x 768" and the like.
        # Message boxes (Tahoma, MS Shell Dlg) get it too, for their Japanese.
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
        local face
        for face in 'MS UI Gothic' 'ＭＳ Ｐゴシック' 'ＭＳ ゴシック' 'MS Shell Dlg' 'MS Shell Dlg 2' \
            'Tahoma'; do
            printf '"%s"="Monapo"\r\n' "$face"
        done
    } | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; }
}

# What the prefix was made with; a prefix made before the 32-bit Wine could run
# cannot run 32-bit programs, and one with other settings shows other fonts, so
# a change means making it again.
tavrel_wine_signature() {
    printf '%s wine32=%s settings=%s\n' "$(tavrel_wine --version 2>/dev/null)" "$TAVREL_WINE32" \
        "$(tavrel_wine_settings_reg | md5sum | cut -c1-12)"
}

# Makes the prefix unless it is ready.  Safe to call from several processes at
# once: they queue on a lock, and only the first does the work.
tavrel_wine_prefix_init() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        local stamp="$WINEPREFIX/.tavrel-prefix-ready"
        local want
        want="$(tavrel_wine_signature)"
        if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then
            exit 0
        fi
        if [ -e "$WINEPREFIX" ]; then
            tavrel_wineserver -k >/dev/null 2>&1 || true
            # A leftover dosdevices/ would make wineboot wait forever.
            rm -rf "$WINEPREFIX"
        fi
        echo "Creating Wine prefix $WINEPREFIX" >&2
        tavrel_wine wineboot -i >/dev/null 2>&1 || { echo "wineboot -i failed" >&2; exit 1; }
        tavrel_wineserver -w
        local reg="$WINEPREFIX/tavrel-settings.reg"
        tavrel_wine_settings_reg >"$reg"
        tavrel_wine regedit /S "$reg" >/dev/null 2>&1 || { echo "importing $reg failed" >&2; exit 1; }
        tavrel_wineserver -w
        printf '%s\n' "$want" >"$stamp"
    ) 9>"$WINEPREFIX.lock"
}
