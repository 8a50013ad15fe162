#!/usr/bin/env bash
# Peak memory of a conversion of the largest picture the converter accepts
# (32767 x 4096, just under the 2^27-pixel cap) and, for comparison, of a
# 3200 x 2400 picture, both converted to 1024 x 768 by the tavrel tool and
# measured with /usr/bin/time -v; then the 3200 x 2400 picture made a 3840 x
# 2160 wallpaper by --fit cover, in full colour and as 16-bit PNG. The pictures are written to a temporary
# folder under build/ and deleted afterwards (the large one is about 0.5 GB).
#
#   scripts/measure_memory.sh [WIDTH HEIGHT]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
width=${1:-32767}
height=${2:-4096}

if [ ! -x /usr/bin/time ]; then
    echo "measure_memory: needs /usr/bin/time (apt-get install time)" >&2
    exit 1
fi
build=build/native
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target tavrel largest_picture >/dev/null

work="$(mktemp -d "$root/build/memory.XXXXXX")"
trap 'rm -rf "$work"' EXIT
"$build/tests/samples/largest_picture" "$work/large.rq6" "$width" "$height"
"$build/tests/samples/largest_picture" "$work/small.rq6" 3200 2400
printf '%-22s %-5s %12s %10s %s\n' picture mode "file bytes" "peak KB" "elapsed"
for picture in large small; do
    for mode in 8 24; do
        /usr/bin/time -v "$build/cli/tavrel" convert "$work/$picture.rq6" --size 1024x768 \
            --mode "$mode" -o "$work/out.bmp" >/dev/null 2>"$work/time.txt"
        peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
        elapsed=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")
        size=$(stat -c %s "$work/$picture.rq6")
        if [ "$picture" = large ]; then dims="${width}x${height}"; else dims=3200x2400; fi
        printf '%-22s %-5s %12s %10s %s\n' "$dims" "$mode" "$size" "$peak" "$elapsed"
    done
done
for mode in 24 48; do
    out="$work/out.bmp"
    [ "$mode" = 48 ] && out="$work/out.png"
    /usr/bin/time -v "$build/cli/tavrel" convert "$work/small.rq6" --size 3840x2160 --fit cover \
        --mode "$mode" -o "$out" >/dev/null 2>"$work/time.txt"
    peak=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
    elapsed=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")
    printf '%-22s %-5s %12s %10s %s\n' "3200x2400 cover 4K" "$mode" "$(stat -c %s "$work/small.rq6")" \
        "$peak" "$elapsed"
done
