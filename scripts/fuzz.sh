#!/usr/bin/env bash
# Runs the fuzz targets for as long as one wants.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS  how long each target runs; 0 (the default) runs until Ctrl-C.
# TARGET   rq6_reader, conversion, standard_picture or pixbuf_loader (where
#          gdk-pixbuf's development files are installed); by default all,
#          side by side.
#
# Builds build/fuzz-long with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer), writes the seed corpus and runs each target at
# the lowest priority on its own growing corpus, build/fuzz-long/fuzz-work/TARGET,
# which later runs start from. A target stops at its first crash; the input
# is saved in build/fuzz-long/fuzz-artifacts/ and the log in
# build/fuzz-long/fuzz-TARGET.log. Once it is fixed, copy the input into
# tests/fuzz/regressions/TARGET/ under a name that says what it found: every
# build then replays it.
#
# Environment: TAVREL_FUZZ_BUILD (build folder), TAVREL_JOBS (build parallelism).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${TAVREL_FUZZ_BUILD:-$ROOT/build/fuzz-long}"
JOBS="${TAVREL_JOBS:-$(nproc 2>/dev/null || echo 2)}"

seconds=${1:-0}
[ $# -gt 0 ] && shift
case "$seconds" in
'' | *[!0-9]*)
    echo "usage: $0 [SECONDS] [rq6_reader|conversion|standard_picture|pixbuf_loader...]" >&2
    exit 2
    ;;
esac
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(rq6_reader conversion standard_picture)
    pkg-config --exists gdk-pixbuf-2.0 2>/dev/null && targets+=(pixbuf_loader)
fi
for t in "${targets[@]}"; do
    case "$t" in
    rq6_reader | conversion | standard_picture | pixbuf_loader) ;;
    *)
        echo "unknown target: $t (rq6_reader, conversion, standard_picture or pixbuf_loader)" >&2
        exit 2
        ;;
    esac
done

if ! command -v clang++ >/dev/null || ! compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; then
    echo "clang and its libFuzzer runtime are needed: scripts/deps.sh test installs them" >&2
    exit 1
fi

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREL_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$BUILD" --parallel "$JOBS" --target seed_corpus picture_seed_corpus "${targets[@]/%/_fuzz}"
(cd "$BUILD" && ./tests/fuzz/seed_corpus fuzz-corpus && ./tests/fuzz/picture_seed_corpus fuzz-corpus/standard_picture)

pids=()
stop() { kill -INT "${pids[@]}" 2>/dev/null || true; }
trap stop INT TERM
for t in "${targets[@]}"; do
    mkdir -p "$BUILD/fuzz-work/$t" "$BUILD/fuzz-artifacts"
    # The loader's target starts from the conversion seeds, whose job bytes it reads alike.
    seeds=$t
    [ "$t" = pixbuf_loader ] && seeds=conversion
    inputs=("$BUILD/fuzz-work/$t" "$BUILD/fuzz-corpus/$seeds")
    [ -d "$ROOT/tests/fuzz/regressions/$t" ] && inputs+=("$ROOT/tests/fuzz/regressions/$t")
    echo "fuzzing $t for ${seconds:-0} s (0: until Ctrl-C); log: $BUILD/fuzz-$t.log"
    nice -n 19 "$BUILD/tests/fuzz/${t}_fuzz" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 \
        -artifact_prefix="$BUILD/fuzz-artifacts/$t-" "${inputs[@]}" >"$BUILD/fuzz-$t.log" 2>&1 &
    pids+=($!)
done

status=0
for i in "${!pids[@]}"; do
    t=${targets[$i]}
    if wait "${pids[$i]}"; then
        echo "$t: no crash"
    else
        echo "$t: FAILED, see $BUILD/fuzz-$t.log"
        status=1
    fi
    grep -E '^stat::number_of_executed_units|^Done ' "$BUILD/fuzz-$t.log" | sed "s/^/$t: /" || true
done
ls "$BUILD"/fuzz-artifacts/ 2>/dev/null | sed 's/^/saved input: /'
exit "$status"
