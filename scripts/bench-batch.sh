#!/usr/bin/env bash
# The Windows program's batch time through its dialogs, before and after:
# Tavrel.exe under Wine on a 1920 x 1080 screen, driven as a user drives it
# (bench/batch_bench_win.cpp), converting the sample disc's five pictures
# at 1600 x 1200 and two of them (Sg006, Sg010) at 1920 x 1080, from the click
# on "変換開始" to "完了しました。". "Before" is the program built from another
# revision, by default 76a75e2 (release 1.1.0: one output row per 10 ms tick,
# sizes made 4:3). Prints the median of RUNS runs each; it reports figures and
# never fails on slowness.
#
#   scripts/bench-batch.sh [RUNS] [BEFORE-REVISION]     (default 3 runs)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
runs=${1:-3}
before_rev=${2:-76a75e2}

bash scripts/deps.sh test >/dev/null
# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh
if [ "$TAVREL_WINE32" = yes ]; then
    arch=i686 bits=32
else
    arch=x86_64 bits=64
    echo "bench-batch: the 64-bit build, since $TAVREL_WINE32_WHY" >&2
fi
toolchain="$root/cmake/mingw-$arch.cmake"
work="$root/build/bench-batch"
mkdir -p "$work"

after="$work/after-win$bits"
cmake -S . -B "$after" -DCMAKE_BUILD_TYPE=Release -DTAVREL_BUILD_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
cmake --build "$after" --target Tavrel batch_bench --parallel >/dev/null

# The earlier program, from its own sources.
before="$work/before-$before_rev-win$bits"
if [ ! -f "$before/ui/Tavrel.exe" ]; then
    rm -rf "$work/src-$before_rev"
    mkdir -p "$work/src-$before_rev"
    git archive "$before_rev" | tar -x -C "$work/src-$before_rev"
    cmake -S "$work/src-$before_rev" -B "$before" -DCMAKE_BUILD_TYPE=Release \
        -DTAVREL_BUILD_TESTS=OFF -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
    cmake --build "$before" --target Tavrel --parallel >/dev/null
fi

disc="$root/build/disc"
# shellcheck source=scripts/sample-disc.sh
. scripts/sample-disc.sh
tavrel_sample_disc "$disc" build/gui-native -DTAVREL_BUILD_TESTS=OFF

prefix="$work/prefix"
scripts/wine-cdrom-prefix.sh "$prefix" "d=$disc"
export WINEPREFIX="$prefix"
trap tavrel_wine_cleanup EXIT
TAVREL_XVFB_SCREEN=1920x1080x24 tavrel_start_xvfb 200 240 "$work/xvfb.log"

# median EXE SIZE PICTURES: runs the driver, shows its lines, keeps the median.
median() {
    local out
    out=$(tavrel_wine "$after/bench/batch_bench.exe" "Z:$1" "$2" "$3" "$runs" 2>&1) ||
        { echo "$out" >&2; echo "bench-batch: the run failed" >&2; exit 1; }
    sed 's/^/    /' <<<"$out" >&2
    sed -n 's/^median \([0-9.]*\) s.*/\1/p' <<<"$out"
}

echo "Batch runs through the dialogs, $bits-bit Tavrel.exe under Wine, median of $runs:"
declare -A seconds
for who in before after; do
    exe="$before/ui/Tavrel.exe"
    [ "$who" = after ] && exe="$after/ui/Tavrel.exe"
    echo "  $who ($exe):" >&2
    seconds[$who-five]=$(median "$exe" 1600x1200 6,7,8,9,10)
    seconds[$who-two]=$(median "$exe" 1920x1080 6,10)
done
printf '%-50s %9s %9s %8s\n' "" before after speed-up
row() {
    awk -v l="$1" -v b="${seconds[before-$2]}" -v a="${seconds[after-$2]}" \
        'BEGIN { printf "%-50s %8.2fs %8.2fs %7.0fx\n", l, b, a, b / a }'
}
row "five pictures at 1600 x 1200" five
row "two pictures at 1920 x 1080 (before: 1440 x 1080)" two
