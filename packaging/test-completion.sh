#!/usr/bin/env bash
# Drives the bash completion of tavrel the way bash does, among a few files of
# each kind, and compares the offered words.
#   [TAVREL=path/to/tavrel] packaging/test-completion.sh COMPLETION-FILE
# (the build writes it to <build>/share/bash-completion/completions/tavrel)
set -uo pipefail
if [ ! -r /usr/share/bash-completion/bash_completion ]; then
    echo "skipped: the bash-completion package is not installed" >&2
    exit 77
fi
# shellcheck source=/dev/null
source /usr/share/bash-completion/bash_completion
[ -r "${1:-}" ] || { echo "usage: $0 COMPLETION-FILE" >&2 && exit 64; }
# shellcheck source=/dev/null
source "$1"

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
touch a.rq6 B.RQ6 c.png d.ppm e.pgm f.bmp
mkdir sub
export LC_ALL=C

failed=0
# complete WORD...: completes the last WORD of "tavrel WORD..." into COMPREPLY.
complete() {
    COMP_WORDS=(tavrel "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _tavrel tavrel "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
}
# expect "WANTED WORDS" WORD...
expect() {
    local want=$1 got
    shift
    complete "$@"
    got="$(printf '%s\n' "${COMPREPLY[@]}" | sort -u | xargs)"
    if [ "$got" != "$want" ]; then
        echo "tavrel $*<TAB>: got '$got', wanted '$want'" >&2
        failed=1
    fi
}

expect "--help --version convert extract info pack sample-disc thumbnail wallpaper" ""
expect "thumbnail" th
expect "1 16 24 4 48 5 8 9" convert --mode ""
expect "cover stretch" thumbnail --fit ""
expect "bmp png" convert a.rq6 --format ""
expect "png ppm" extract --format ""
expect "-- --comment --help --out-dir" pack --
expect "--exponent" convert a.rq6 --e
expect "B.RQ6 a.rq6 sub" convert ""
expect "B.RQ6 a.rq6 sub" info ""
expect "c.png f.bmp sub" convert a.rq6 -o ""
expect "c.png d.ppm e.pgm sub" pack ""
expect "B.RQ6 a.rq6 sub" pack c.png -o ""
expect "sub" convert a.rq6 --out-dir ""
expect "sub" sample-disc ""
expect "1024 128 256 512" thumbnail -s ""
expect "B.RQ6 a.rq6 sub" thumbnail -s 128 ""
expect "c.png sub" thumbnail -s 128 a.rq6 ""
expect "c.png sub" thumbnail --fit cover a.rq6 ""
expect "-- --contrast --exponent --help --mode --no-set --size" wallpaper -
# "-" is standard input and output where the commands take it.
expect "- -- --help" info -
expect "- -- --fit --help -s" thumbnail -
expect "-" convert a.rq6 -o -
expect "-" pack c.png -o -
expect "1 16 24 4 48 5 8 9" wallpaper --mode ""
expect "B.RQ6 a.rq6 sub" wallpaper --no-set --size 1920x1080 ""
# After "--", a word that begins with a dash is a file name.
touch -- -x.rq6
expect "-x.rq6" convert -- -

# With TAVREL=path/to/tavrel: every option a command's --help lists is offered.
for command in convert extract pack info thumbnail sample-disc wallpaper; do
    [ -n "${TAVREL:-}" ] || break
    complete "$command" -
    for option in $("$TAVREL" "$command" --help | grep -oE -- '^ +(-h, )?-[a-z-]+' | grep -oE -- '-[a-z-]+'); do
        [ "$option" = -h ] || [[ " ${COMPREPLY[*]} " == *" $option "* ]] ||
            { echo "tavrel $command -<TAB> lacks $option" >&2 && failed=1; }
    done
done
exit $failed
