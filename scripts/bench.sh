#!/usr/bin/env bash
# Side-by-side speed report: tavrel against ImageMagick on the sample disc and
# on a natural photograph (a Debian wallpaper, scaled to 3200 x 2400 at 16 bits
# per channel and packed as RQ6). Prints medians of several runs, the ratios
# and peak memory. It reports figures; it never fails on slowness.
#
#   scripts/bench.sh [runs]     (default 5 runs per measurement)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
runs=${1:-5}

bash scripts/deps.sh build
photo_source=/usr/share/backgrounds/mate/nature/Wood.jpg
need=()
command -v convert >/dev/null || need+=(imagemagick)
command -v pngcheck >/dev/null || need+=(pngcheck)
[ -f "$photo_source" ] || need+=(mate-backgrounds)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "bench: needs ${need[*]}: apt-get install ${need[*]}" >&2
    exit 1
  fi
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

build=build/native
# shellcheck source=scripts/sample-disc.sh
. scripts/sample-disc.sh
tavrel_build_tool "$build"
cmake --build "$build" --target decode_bench --parallel "${TAVREL_JOBS:-$(nproc)}" >/dev/null
tools="$build/cli"
work=build/bench
mkdir -p "$work"
tavrel_sample_disc build/disc

# The photograph: 16-bit PNG for ImageMagick, the same pixels as RQ6 for tavrel.
if [ ! -f "$work/photo.rq6" ] || [ ! -f "$work/photo.png" ]; then
  convert "$photo_source" -resize '3200x2400!' -depth 16 "$work/photo.png"
  "$tools/tavrel" pack "$work/photo.png" --comment photo -o "$work/photo.rq6" >/dev/null
fi
# The sample pictures as 16-bit PNG too.
for n in 06 07 08 09 10; do
  [ -f "$work/Sg0$n.png" ] || "$tools/tavrel" extract "build/disc/Extends/Sg0$n.rq6" -o "$work/Sg0$n.png" >/dev/null
done

# measure CMD... -> prints "median_seconds peak_kb"
measure() {
  local times=() mems=() t0 t1 i
  for ((i = 0; i < runs; i++)); do
    t0=$(date +%s%N)
    /usr/bin/time -f %M -o "$work/mem" "$@" >/dev/null 2>&1 || { echo "bench: failed: $*" >&2; exit 1; }
    t1=$(date +%s%N)
    times+=($(((t1 - t0) / 1000)))
    mems+=("$(tail -1 "$work/mem")")
  done
  local mt mm
  mt=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
  mm=$(printf '%s\n' "${mems[@]}" | sort -n | tail -1)
  echo "$mt $mm"
}

# ImageMagick's closest equivalents: box scaling, ordered dither, BMP of the same depth.
im_args() {
  case $1 in
    1) echo "-scale 1024x768! -colorspace Gray -ordered-dither o8x8 -type Bilevel BMP3:" ;;
    8) echo "-scale 1024x768! -ordered-dither o8x8,8,10,3 -type Palette BMP3:" ;;
    24) echo "-scale 1024x768! -depth 8 -type TrueColor BMP3:" ;;
    full) echo "-depth 8 -type TrueColor BMP3:" ;;
  esac
}

printf '%-9s %-22s %10s %10s %8s %10s %10s\n' picture task "tavrel s" "IM s" "IM/tav" "tavrel MB" "IM MB"
for pic in photo Sg006 Sg007 Sg008 Sg009 Sg010; do
  if [ "$pic" = photo ]; then rq6="$work/photo.rq6"; png="$work/photo.png"
  else rq6="build/disc/Extends/$pic.rq6"; png="$work/$pic.png"; fi
  for task in 1 8 24 full; do
    if [ "$task" = full ]; then
      read -r ts tm < <(measure "$tools/tavrel" convert "$rq6" --mode 24 -o "$work/t.bmp")
      label="3200x2400 mode 24"
    else
      read -r ts tm < <(measure "$tools/tavrel" convert "$rq6" --size 1024x768 --mode "$task" -o "$work/t.bmp")
      label="1024x768 mode $task"
    fi
    args=$(im_args "$task")
    read -r is im < <(measure convert "$png" ${args% *} "${args##* }$work/im.bmp")
    awk -v p="$pic" -v l="$label" -v ts="$ts" -v is="$is" -v tm="$tm" -v im="$im" 'BEGIN {
      printf "%-9s %-22s %10.3f %10.3f %7.1fx %10.1f %10.1f\n", p, l, ts / 1e6, is / 1e6, is / ts, tm / 1024, im / 1024 }'
  done
  read -r ds _ < <(measure "$build/bench/decode_bench" "$rq6" 1)
  mbps=$("$build/bench/decode_bench" "$rq6" "$runs")
  read -r cs _ < <(measure "$tools/tavrel" convert "$rq6" --size 1024x768 --mode 8 -o "$work/t.bmp")
  awk -v p="$pic" -v m="$mbps" -v ds="$ds" -v cs="$cs" 'BEGIN {
    printf "%-9s decode alone: %s MB/s of payload; conversion to 1024x768 mode 8 takes %.2fx the decode\n", p, m, cs / ds }'
done

# The archival path on the photograph: its 16-bit PNG packed as RQ6 and
# extracted again, compared sample for sample through ImageMagick's reading;
# beside it the PPM extraction it is measured against, decoding alone,
# ImageMagick writing the same PNG, and the full-size conversion to PNG.
echo
echo "load before the archival path: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
printf '%-40s %10s %10s %14s\n' "archival path, photograph" "seconds" "MB peak" "file bytes"
archive_row() {  # label output-file command...
  local label=$1 out=$2
  shift 2
  read -r s m < <(measure "$@")
  awk -v l="$label" -v s="$s" -v m="$m" -v b="$(stat -c %s "$out")" 'BEGIN {
    printf "%-40s %10.3f %10.1f %14d\n", l, s / 1e6, m / 1024, b }'
  archive_seconds=$s
}
printf '%-40s %10s %10s %14d\n' "16-bit PNG (ImageMagick's)" - - "$(stat -c %s "$work/photo.png")"
archive_row "tavrel pack ImageMagick's PNG -> RQ6" "$work/packed.rq6" "$tools/tavrel" pack "$work/photo.png" --comment photo -o "$work/packed.rq6"
archive_row "tavrel extract RQ6 -> PNG" "$work/extracted.png" "$tools/tavrel" extract "$work/packed.rq6" -o "$work/extracted.png"
png_s=$archive_seconds
archive_row "tavrel pack that PNG -> RQ6" "$work/repacked.rq6" "$tools/tavrel" pack "$work/extracted.png" -o "$work/repacked.rq6"
pack_s=$archive_seconds
archive_row "tavrel extract RQ6 -> PPM" "$work/extracted.ppm" "$tools/tavrel" extract "$work/packed.rq6" -o "$work/extracted.ppm"
ppm_s=$archive_seconds
archive_row "ImageMagick PPM -> PNG" "$work/im-written.png" convert "$work/extracted.ppm" -depth 16 "$work/im-written.png"
im_s=$archive_seconds
archive_row "tavrel convert mode 24 -> PNG" "$work/converted.png" "$tools/tavrel" convert "$work/packed.rq6" --mode 24 --format png -o "$work/converted.png"
archive_row "tavrel convert mode 24 -> BMP" "$work/converted.bmp" "$tools/tavrel" convert "$work/packed.rq6" --mode 24 -o "$work/converted.bmp"
echo "decode alone: $("$build/bench/decode_bench" "$work/packed.rq6" "$runs") MB/s of payload"
awk -v pk="$pack_s" -v pn="$png_s" -v pp="$ppm_s" -v im="$im_s" 'BEGIN {
  printf "extract to PNG takes %.1fx extract to PPM; pack from it %.1fx; ImageMagick writing the PNG %.1fx\n",
    pn / pp, pk / pp, im / pp }'
# (compare counts the pixels that differ at all, at 16 bits per channel.)
different=$(compare -metric AE "$work/photo.png" "$work/extracted.png" null: 2>&1 || true)
if [ "$different" = 0 ]; then
  echo "extract(pack(photo.png)): sample-identical to photo.png"
else
  echo "extract(pack(photo.png)): $different pixels differ from photo.png"
fi
if command -v pngcheck >/dev/null; then
  echo "pngcheck: $(pngcheck "$work/extracted.png" 2>&1 | head -1)"
fi
rm -f "$work/extracted.ppm"
rm -f "$work/repacked.rq6"

# Wallpapers for a 16:9 screen: --fit cover against a plain conversion of the
# same output size, and 16-bit PNG (mode 48) against full colour PNG.
echo
printf '%-40s %10s %10s %14s\n' "3840x2160 from the photograph" "seconds" "MB peak" "file bytes"
screen_row() {  # label output-file options...
  local label=$1 out=$2
  shift 2
  archive_row "$label" "$out" "$tools/tavrel" convert "$work/packed.rq6" --size 3840x2160 "$@" -o "$out"
}
screen_row "plain, mode 24 -> BMP" "$work/screen.bmp" --mode 24
screen_row "--fit cover, mode 24 -> BMP" "$work/screen.bmp" --mode 24 --fit cover
screen_row "plain, mode 8 -> BMP" "$work/screen.bmp" --mode 8
screen_row "--fit cover, mode 8 -> BMP" "$work/screen.bmp" --mode 8 --fit cover
screen_row "plain, mode 24 -> PNG" "$work/screen.png" --mode 24
screen_row "--fit cover, mode 48 -> 16-bit PNG" "$work/screen.png" --mode 48 --fit cover
rm -f "$work/screen.bmp" "$work/screen.png"
