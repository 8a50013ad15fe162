# Wine environment for running the Windows builds.  Source it:
#   . scripts/wine-env.sh && tavrel_wine_prefix_init
# Then `wine prog.exe` (or scripts/wine-run.sh prog.exe) runs in the project's own
# prefix.  A 64-bit prefix made while the 32-bit Wine is installed runs both the
# x86_64 and the i686 builds.
# shellcheck shell=bash

TAVREL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$TAVREL_ROOT/build/wine-prefix}"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko: the programs need neither, and their installers would prompt.
export WINEDLLOVERRIDES="mscoree,mshtml="

# What the prefix was made with; a prefix made before the 32-bit Wine was
# installed cannot run 32-bit programs, so a change means making it again.
tavrel_wine_signature() {
    local wine32=no
    [ -x /usr/lib/wine/wine ] && wine32=yes
    printf '%s wine32=%s\n' "$(wine --version 2>/dev/null)" "$wine32"
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
            wineserver -k >/dev/null 2>&1 || true
            rm -rf "$WINEPREFIX"
        fi
        echo "Creating Wine prefix $WINEPREFIX" >&2
        wineboot -i >/dev/null 2>&1 || { echo "wineboot -i failed" >&2; exit 1; }
        wineserver -w
        local reg="$WINEPREFIX/tavrel-settings.reg"
        # UTF-16 with a byte-order mark, so the Japanese font name survives
        # whatever locale this shell runs in.  Without the replacements every
        # Japanese glyph in a dialog is drawn as a box.
        {
            printf 'Windows Registry Editor Version 5.00\r\n\r\n'
            printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n'
            printf '"ShowCrashDialog"=dword:00000000\r\n\r\n'
            printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
            local face
            for face in 'MS UI Gothic' 'ＭＳ Ｐゴシック' 'ＭＳ ゴシック' 'MS Shell Dlg' 'MS Shell Dlg 2' \
                'Tahoma'; do
                printf '"%s"="IPAPGothic"\r\n' "$face"
            done
        } | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; } >"$reg"
        wine regedit /S "$reg" >/dev/null 2>&1 || { echo "importing $reg failed" >&2; exit 1; }
        wineserver -w
        printf '%s\n' "$want" >"$stamp"
    ) 9>"$WINEPREFIX.lock"
}
