#!/usr/bin/env bash
# The project's test command: installs what is missing, builds every
# configuration, runs its suites (the Windows ones under Wine) and adds up the
# GoogleTest reports.  Ends with the line "N passed, N failed"; the exit status
# is non-zero when any build, any ctest run or any test failed.
#
# Environment: TAVREL_JOBS (build parallelism, default nproc),
# TAVREL_WINE_CTEST_JOBS (parallel suites under Wine, default 2).
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT" || exit 1
JOBS="${TAVREL_JOBS:-$(nproc 2>/dev/null || echo 2)}"
WINE_CTEST_JOBS="${TAVREL_WINE_CTEST_JOBS:-2}"

total_passed=0
total_failed=0
status=0
summary=()
xvfb_pid=""
wine_ready=no

log() { printf '\n=== %s\n' "$*"; }

# shellcheck disable=SC2317  # called from the EXIT trap
cleanup() {
    if [ "$wine_ready" = yes ]; then
        wineserver -k >/dev/null 2>&1 || true
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" >/dev/null 2>&1 || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# One X server for the whole run: Wine's GUI programs need a display, console
# programs simply ignore it.
start_xvfb() {
    local n
    for n in $(seq 90 140); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$ROOT/build/xvfb.log" 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 1 50); do
            if xdpyinfo -display ":$n" >/dev/null 2>&1; then
                export DISPLAY=":$n"
                return 0
            fi
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.2
        done
        kill "$xvfb_pid" >/dev/null 2>&1
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=""
    done
    echo "could not start Xvfb" >&2
    return 1
}

# Made once, before any suite runs: suites that each made it lazily would race.
setup_wine() {
    [ "$wine_ready" = yes ] && return 0
    log "Wine prefix and X display"
    # shellcheck source=scripts/wine-env.sh
    . "$ROOT/scripts/wine-env.sh"
    local t0=$SECONDS
    tavrel_wine_prefix_init || return 1
    echo "Wine prefix ready in $((SECONDS - t0)) s: $WINEPREFIX"
    start_xvfb || return 1
    echo "Xvfb on $DISPLAY"
    wine_ready=yes
}

attr() { sed -n "s/.* $1=\"\([0-9]*\)\".*/\1/p" <<<"$2"; }

# Adds up one build's results: each suite's GoogleTest report, cross-checked
# against ctest's own verdict.  A suite that died before writing its report, or
# that failed after writing a clean one (a sanitizer report at exit, say),
# counts as one failure; a test without a report (not GoogleTest) counts as one.
count_results() {
    local dir=$1 name=$2
    local junit="$dir/Testing/ctest-junit.xml"
    local passed=0 failed=0 suites=0
    if [ ! -f "$junit" ]; then
        summary+=("$name: no ctest results")
        total_failed=$((total_failed + 1))
        return 1
    fi
    local test verdict report line t f e
    while IFS=$'\t' read -r test verdict; do
        [ "$verdict" = disabled ] && continue
        suites=$((suites + 1))
        report="$dir/test-results/$test.xml"
        if [ -f "$report" ]; then
            line="$(grep -m1 '<testsuites' "$report")"
            t="$(attr tests "$line")"
            f="$(attr failures "$line")"
            e="$(attr errors "$line")"
            if [ -z "$t" ] || [ -z "$f" ] || [ -z "$e" ]; then
                echo "$name: unreadable report $report" >&2
                failed=$((failed + 1))
                continue
            fi
            passed=$((passed + t - f - e))
            failed=$((failed + f + e))
            if [ "$verdict" != run ] && [ $((f + e)) -eq 0 ]; then
                failed=$((failed + 1))
            fi
        elif [ "$verdict" = run ]; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
        fi
    done < <(sed -n 's/.*<testcase name="\([^"]*\)".* status="\([^"]*\)".*/\1\t\2/p' "$junit")
    summary+=("$name: $passed passed, $failed failed ($suites suites)")
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    [ "$failed" -eq 0 ]
}

# run_build NAME native|wine CTEST_JOBS [cmake options...]
# Configures build/NAME, builds it and runs its suites.  A configuration that
# does not build counts as one failure.
run_build() {
    local name=$1 runner=$2 ctest_jobs=$3
    shift 3
    local dir="$ROOT/build/$name"
    local t0=$SECONDS
    log "$name: configure and build"
    if ! cmake -S "$ROOT" -B "$dir" -DTAVREL_WERROR=ON "$@" ||
        ! cmake --build "$dir" --parallel "$JOBS"; then
        summary+=("$name: BUILD FAILED")
        total_failed=$((total_failed + 1))
        status=1
        return
    fi
    local built=$((SECONDS - t0))
    if [ "$runner" = wine ] && ! setup_wine; then
        summary+=("$name: WINE SET-UP FAILED")
        total_failed=$((total_failed + 1))
        status=1
        return
    fi
    log "$name: tests"
    t0=$SECONDS
    rm -f "$dir"/test-results/*.xml "$dir/Testing/ctest-junit.xml"
    (cd "$dir" && ctest --output-on-failure --no-tests=error -j "$ctest_jobs" \
        --output-junit "$dir/Testing/ctest-junit.xml") || status=1
    count_results "$dir" "$name" || status=1
    summary[-1]+=" [build ${built} s, tests $((SECONDS - t0)) s]"
}

mkdir -p "$ROOT/build"
rm -f "$ROOT"/build/*/test-results/*.xml

log "dependencies"
if ! "$ROOT/scripts/deps.sh" test; then
    echo "0 passed, 1 failed"
    exit 1
fi

# One line per configuration.
run_build native native "$JOBS" -DCMAKE_BUILD_TYPE=Release
run_build win64 wine "$WINE_CTEST_JOBS" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-x86_64.cmake"
run_build win32 wine "$WINE_CTEST_JOBS" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake"
# The native suites under AddressSanitizer and UndefinedBehaviorSanitizer; any
# finding (leaks included) aborts its suite.
run_build asan native "$JOBS" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREL_SANITIZE=ON
# Each libFuzzer target for TAVREL_FUZZ_SECONDS (25) on its corpus, side by side.
run_build fuzz native 2 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVREL_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++

log "summary"
printf '%s\n' "${summary[@]}"
[ "$total_failed" -eq 0 ] || status=1
echo "$total_passed passed, $total_failed failed"
exit "$status"
