#!/usr/bin/env bash
# Checks that the folders keep the architecture they stand for:
#   - each top-level folder includes only from itself and the folders below
#     it (the table below); in plugins/ each plug-in has a room of its own
#     (plugins/NAME/) and includes nothing from another's;
#   - no source files include each other in a loop, directly or through
#     others; a file and its header (x.h, x.cpp, x_win.cpp ...) count as one
#     unit, so that a loop through a header is seen too;
#   - given a build folder: no source files call each other in a loop. A file
#     that uses a symbol another file defines depends on it; the symbols come
#     from the build's object files (nm), so every call, every use of a
#     global and every virtual function reached through a vtable counts.
#     Calls through a function pointer or an interface set at run time (the
#     resampler's row source, the formats' translator) are the way to let a
#     lower file call back up without depending on the file above;
#   - no top-level folder holds more than 35 % of the C++ lines outside
#     tests/, so that none grows back into a catch-all.
# Exits 1 with what is wrong, else prints the shares and exits 0.
#
#   scripts/check-layout.sh [BUILD-DIR]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-}"
[ -z "$build" ] || build="$(cd "$build" && pwd)"
cd "$root"

# A folder that holds more than this share of the code has become the place
# where everything goes.
max_share_percent=35

# What each folder may include besides itself; tests/ may include anything.
# A new folder needs its line here.
declare -A below=(
    [platform]=""
    [engine]="platform"
    [formats]="engine platform"
    [samples]="formats engine platform"
    # Plug-ins for other programs (plugins/NAME/), thin shells over the
    # engine and the formats.
    [plugins]="formats engine platform"
    [cli]="formats samples engine platform"
    [bench]="resources plugins engine platform"
    [ui]="resources engine platform"
    [resources]=""
)

failed=0
fail() {
    echo "check-layout: $*" >&2
    failed=1
}

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t sources < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h' | sort)
else  # an unpacked source tree
    mapfile -t sources < <(find . \( -path ./build -o -path ./dist -o -path ./out \) -prune -o \
        -type f \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||' | sort)
fi

for folder in $(printf '%s\n' "${sources[@]}" | sed -n 's|/.*||p' | sort -u); do
    [ "$folder" = tests ] || [ -n "${below[$folder]+set}" ] ||
        fail "$folder/ is not in the table of folders in scripts/check-layout.sh"
done

# The unit of a file: its path without the extension and a platform suffix.
unit() {
    local u="${1%.*}"
    u="${u%_win}"
    echo "${u%_posix}"
}

# Every include of a file of the repository, "file included" (system headers
# and the generated version header are not files of the repository).
includes=$(
    for f in "${sources[@]}"; do
        sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$f" |
            while read -r inc; do
                [ -f "$inc" ] && echo "$f $inc"
            done
    done
)

include_edges=""
while read -r f inc; do
    [ -n "$f" ] || continue
    from=$(unit "$f")
    to=$(unit "$inc")
    [ "$from" = "$to" ] || include_edges+="$from $to"$'\n'
    folder=${f%%/*}
    target=${inc%%/*}
    if [ "$folder" != "$target" ] && [ -n "${below[$folder]+set}" ] &&
        [[ " ${below[$folder]} " != *" $target "* ]]; then
        fail "$f includes $inc: $target/ is not below $folder/"
    fi
    if [ "$folder" = plugins ] && [ "$target" = plugins ]; then
        room=$(cut -d/ -f2 <<<"$f")
        [ "$(cut -d/ -f2 <<<"$inc")" = "$room" ] ||
            fail "$f includes $inc: plug-ins include nothing from each other's rooms"
    fi
done <<<"$includes"

# tsort finds a loop if there is one and names its members on stderr.
loops() {
    local what=$1 edges=$2 out
    out=$(printf '%s\n' "$edges" | tsort 2>&1 >/dev/null) || true
    if [ -n "$out" ]; then
        fail "$what form a loop:"
        printf '%s\n' "$out" | grep -v 'input contains a loop' | sed 's/^tsort: /    /' >&2
    fi
}
loops "these files' includes" "$include_edges"

if [ -n "$build" ]; then
    # Object file -> source: CMake keeps <build>/DIR/CMakeFiles/TARGET.dir/REL.o
    # for the source DIR/REL, with ".." written as "__".
    declare -A object_source=()
    while IFS= read -r o; do
        rel=${o#"$build"/}
        dir=${rel%%/CMakeFiles/*}
        [ "$dir" != "$rel" ] || continue
        [ "$dir" != "CMakeFiles" ] || dir=.
        src=${rel#*/CMakeFiles/*.dir/}
        src=${src%.o}
        src=$(realpath -m --relative-to=. "$dir/${src//__/..}")
        [ -f "$src" ] || continue  # an object left from a file since moved
        object_source[$o]=$src
    done < <(find "$build" -name '*.o' -not -path '*/googletest/*' | sort)
    [ ${#object_source[@]} -gt 0 ] || fail "no object files in $build"

    # Strongly defined symbols (weak ones are inline functions and templates,
    # defined wherever they are used) and undefined ones, per source.
    symbols=$(
        for o in "${!object_source[@]}"; do
            nm "$o" | awk -v src="${object_source[$o]}" '
                $1 == "U" { print "U", src, $2; next }
                NF == 3 && $2 ~ /^[TDBRG]$/ { print "D", src, $3 }'
        done
    )
    call_edges=$(printf '%s\n' "$symbols" | awk '
        $1 == "D" { definers[$3] = definers[$3] " " $2; next }
        { uses[$2 " " $3] = 1 }
        END {
            for (u in uses) {
                split(u, p, " ")
                n = split(definers[p[2]], d, " ")
                for (i = 1; i <= n; ++i) if (d[i] != p[1]) print p[1], d[i]
            }
        }' | sort -u)
    loops "these files' calls" "$call_edges"
fi

# Lines of C++ per top-level folder, tests/ left out.
shares=$(for f in "${sources[@]}"; do
    case "$f" in
    tests/*) ;;
    */*) printf '%s %s\n' "${f%%/*}" "$(wc -l <"$f")" ;;
    esac
done | awk '{ lines[$1] += $2; total += $2 }
    END { for (d in lines) printf "%s %d %.1f\n", d, lines[d], 100 * lines[d] / total }' |
    sort -k2,2nr)
while read -r dir lines percent; do
    printf '  %-11s %6d lines %5s %%\n' "$dir/" "$lines" "$percent"
    if awk -v p="$percent" -v m="$max_share_percent" 'BEGIN { exit !(p > m) }'; then
        fail "$dir/ holds $percent % of the C++ lines outside tests/ (at most $max_share_percent %)"
    fi
done <<<"$shares"

if [ $failed -eq 0 ]; then
    echo "check-layout: no loops in the includes${build:+ or the calls}; each folder includes only those below it"
fi
exit $failed
