#!/usr/bin/env bash
# Thumbnails of an RQ6 picture through WIC under Wine against `tavrel
# thumbnail`: the 64-bit tavrel_wic.dll (the one Explorer loads on 64-bit
# Windows) registered in a throwaway prefix (scripts/wic-prefix.sh), and
# bench/wic_bench_win.cpp timing, on the 3200 x 2400 sample picture Sg010:
# the whole picture at 48 bits, a 256-pixel 32bppBGRA thumbnail through
# WIC's scaler, and the same thumbnail as the decoder's scaled copy. Then
# the native tool makes that thumbnail. Medians of RUNS runs each; the
# benchmark reports and never fails on slowness.
#
#   scripts/bench-wic.sh [RUNS]     (default 5)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
runs=${1:-5}
jobs="${TAVREL_JOBS:-$(nproc 2>/dev/null || echo 2)}"

bash scripts/deps.sh test >/dev/null
work="$root/build/bench-wic"
mkdir -p "$work"
# shellcheck source=scripts/sample-disc.sh
. scripts/sample-disc.sh
tavrel_build_tool "$work/native" -DTAVREL_BUILD_TESTS=OFF
cmake -S . -B "$work/win64" -DCMAKE_BUILD_TYPE=Release -DTAVREL_BUILD_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
cmake --build "$work/win64" --target tavrel_wic wic_bench --parallel "$jobs" >/dev/null

tool=$TAVREL_TOOL
picture="$work/Sg010.rq6"
if [ ! -f "$picture" ]; then
    tavrel_sample_disc "$work/disc"
    mv "$work/disc/Extends/Sg010.rq6" "$picture"
    rm -rf "$work/disc"
fi

prefix="$work/wic-prefix"
trap 'bash "$root/scripts/wic-prefix.sh" remove "$prefix"' EXIT
bash scripts/wic-prefix.sh create "$prefix" "$work/win64/plugins/wic/tavrel_wic.dll" >/dev/null
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Sg010.rq6, 3200 x 2400, through WIC under Wine ($runs runs, medians):"
wic=$(cd "$work" && WINEPREFIX="$prefix" "$root/scripts/wine-run.sh" \
    "$work/win64/bench/wic_bench.exe" Sg010.rq6 "$runs" | tr -d '\r')
sed 's/^/  /' <<<"$wic"

times=()
for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$tool" thumbnail "$picture" "$work/thumbnail.png" >/dev/null
    times+=($((($(date +%s%N) - start) / 1000000)))
done
native=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
echo "tavrel thumbnail (native, 256 x 192 PNG): $native ms"
ms() { sed -n "s/^$1.*: \([0-9]*\) ms$/\1/p" <<<"$wic"; }
for what in "thumbnail as a scaled copy" "thumbnail through IWICBitmapScaler"; do
    awk -v a="$(ms "$what")" -v b="$native" -v w="$what" \
        'BEGIN { printf "%s: %.2f x tavrel thumbnail\n", w, a / b }'
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
