#!/usr/bin/env bash
# Builds the tavrel tool, writes the sample disc and converts every picture on
# it to 1024 x 768 in a few colour formats into out/; also one PNG wallpaper
# and one full-precision archival copy.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/deps.sh build
# shellcheck source=scripts/sample-disc.sh
. scripts/sample-disc.sh
tavrel_build_tool build/native
tavrel=$TAVREL_TOOL

disc=build/disc
tavrel_sample_disc --say "$disc"

mkdir -p out
to_bmp() {  # picture mode [contrast position]
  local n=$1 mode=$2 contrast=${3:-128}
  local name="out/Sg0$n-mode$mode"
  [ "$contrast" = 128 ] || name+="-contrast$contrast"
  "$tavrel" convert "$disc/Extends/Sg0$n.rq6" --size 1024x768 --mode "$mode" \
    --contrast "$contrast" -o "$name.bmp"
}
to_bmp 06 24
to_bmp 06 16
to_bmp 06 5
to_bmp 07 1
to_bmp 07 9
to_bmp 08 4
to_bmp 08 8
to_bmp 09 24
to_bmp 09 24 40
to_bmp 10 24
to_bmp 10 8
to_bmp 10 1
"$tavrel" convert "$disc/Extends/Sg010.rq6" --size 1024x768 --mode 24 -o out/Sg010-mode24.png
# Wallpapers for a 16:9 screen, cropped to fill it undistorted: full colour,
# and 16 bits per channel for a deep-colour display.
"$tavrel" convert "$disc/Extends/Sg010.rq6" --size 1920x1080 --fit cover -o out/Sg010-1920x1080.bmp
"$tavrel" convert "$disc/Extends/Sg010.rq6" --size 3840x2160 --fit cover --mode 48 \
  -o out/Sg010-3840x2160-deep.png
# The archival copy: full size, 16 bits per channel, the comment kept.
"$tavrel" extract "$disc/Extends/Sg008.rq6" -o out/Sg008-full.png
echo "Wrote $(ls out/*.bmp out/*.png | wc -l) pictures into out/."
