#!/usr/bin/env bash
# The project's test command: installs what is missing, builds every
# configuration, runs its suites (the Windows ones under Wine) and adds up the
# GoogleTest reports.  Ends with the line "N passed, N failed, N skipped"; the
# exit status is non-zero when any build, any ctest run or any test failed.
#
# Skipped means a whole suite that this host cannot run: the 32-bit Windows
# build is always built, but its suites run only where the kernel runs 32-bit
# programs.  The summary names such suites and says why.  A test case that
# skips itself (a check that needs something this host lacks) counts neither
# as passed nor in that number; each build's line gives their count.
#
# Usage: scripts/test.sh [native|win64|win32|install|asan]...  runs only the
# configurations named (each is a preset of CMakePresets.json but install,
# which checks the installed tree and the packages), all of them by default,
# and still ends with the counts of what ran.
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
total_skipped=0
status=0
summary=()
skipped_notes=()
wine_ready=no

log() { printf '\n=== %s\n' "$*"; }

# Wine's server and the X server run only once setup_wine has made the
# prefix and started the display.
# shellcheck disable=SC2317  # called from the EXIT trap
cleanup() {
    if [ "$wine_ready" = yes ]; then
        tavrel_wine_cleanup
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Made once, before any suite runs: suites that each made it lazily would race.
# Sourcing wine-env.sh decides, once for the whole run, which Wine loader this
# host can use; ctest's emulator and every script below inherit the choice.
setup_wine() {
    [ "$wine_ready" = yes ] && return 0
    log "Wine prefix and X display"
    # The project's own prefix and a fresh look at this host, whatever the
    # calling shell had set.
    unset WINEPREFIX WINELOADER TAVREL_WINE TAVREL_WINESERVER TAVREL_WINE32 TAVREL_WINE32_WHY
    # shellcheck source=scripts/wine-env.sh
    . "$ROOT/scripts/wine-env.sh"
    tavrel_wine_describe
    local t0=$SECONDS
    tavrel_wine_prefix_init || return 1
    echo "Wine prefix ready in $((SECONDS - t0)) s: $WINEPREFIX"
    # One X server for the whole run: Wine's GUI programs need a display,
    # console programs simply ignore it.
    tavrel_start_xvfb 90 140 "$ROOT/build/xvfb.log" || return 1
    echo "Xvfb on $DISPLAY"
    wine_ready=yes
}

attr() { sed -n "s/.* $1=\"\([0-9]*\)\".*/\1/p" <<<"$2"; }

# ctest's JUnit file, one line per test: name, verdict (run, fail, skipped for
# a suite that exited with SKIP_RETURN_CODE, or ctest's own status) and, for
# a skipped one, the first line it printed (its reason).
junit_verdicts() {
    awk '
        function flush() { if (name != "") print name "\t" verdict "\t" reason; name = "" }
        /<testcase / {
            flush()
            name = $0; sub(/.*<testcase name="/, "", name); sub(/".*/, "", name)
            verdict = $0; sub(/.* status="/, "", verdict); sub(/".*/, "", verdict)
            reason = ""; out = 0
        }
        /<skipped message="SKIP_RETURN_CODE=/ { verdict = "skipped" }
        /<system-out>/ { out = 1; line = $0; sub(/.*<system-out>/, "", line)
                         if (line != "" && reason == "") reason = line; next }
        out && reason == "" && NF { reason = $0; sub(/^[ \t]+/, "", reason) }
        /<\/system-out>/ { out = 0 }
        END { flush() }
    ' "$1"
}

# Adds up one build's results: each suite's GoogleTest report, cross-checked
# against ctest's own verdict.  A suite that died before writing its report, or
# that failed after writing a clean one (a sanitizer report at exit, say),
# counts as one failure; a test without a report (not GoogleTest) counts as one.
# A suite that the host cannot run counts as one skipped.
count_results() {
    local dir=$1 name=$2
    local junit="$dir/Testing/ctest-junit.xml"
    local passed=0 failed=0 suites=0 self_skipped=0
    local skipped=() why=""
    if [ ! -f "$junit" ]; then
        summary+=("$name: no ctest results")
        total_failed=$((total_failed + 1))
        return 1
    fi
    local test verdict reason report line t f e k
    while IFS=$'\t' read -r test verdict reason; do
        [ "$verdict" = disabled ] && continue
        suites=$((suites + 1))
        if [ "$verdict" = skipped ]; then
            skipped+=("$test")
            [ -z "$why" ] && why=${reason#SKIPPED: }
            continue
        fi
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
            k="$(grep -c 'result="skipped"' "$report")"
            passed=$((passed + t - f - e - k))
            failed=$((failed + f + e))
            self_skipped=$((self_skipped + k))
            if [ "$verdict" != run ] && [ $((f + e)) -eq 0 ]; then
                failed=$((failed + 1))
            fi
        elif [ "$verdict" = run ]; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
        fi
    done < <(junit_verdicts "$junit")
    local text="$name: $passed passed, $failed failed"
    [ ${#skipped[@]} -gt 0 ] && text+=", ${#skipped[@]} skipped"
    text+=" ($suites suites"
    [ "$self_skipped" -gt 0 ] && text+="; $self_skipped cases skipped themselves"
    text+=")"
    summary+=("$text")
    if [ ${#skipped[@]} -gt 0 ]; then
        skipped_notes+=("$name: ${skipped[*]} not run: ${why:-no reason given}")
    fi
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    total_skipped=$((total_skipped + ${#skipped[@]}))
    [ "$failed" -eq 0 ]
}

# run_build NAME native|wine CTEST_JOBS [cmake options...]
# Configures build/NAME from its preset in CMakePresets.json, builds it and
# runs its suites.  A configuration that does not build counts as one failure.
run_build() {
    local name=$1 runner=$2 ctest_jobs=$3
    shift 3
    local dir="$ROOT/build/$name"
    local t0=$SECONDS
    log "$name: configure and build"
    if ! cmake --preset "$name" "$@" || ! cmake --build "$dir" --parallel "$JOBS"; then
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

# The configurations to run: those named on the command line, else all.
all_configurations=(native win64 win32 install asan)
if [ $# -eq 0 ]; then
    set -- "${all_configurations[@]}"
fi
declare -A wanted=()
for c in "$@"; do
    case " ${all_configurations[*]} " in
    *" $c "*) wanted[$c]=1 ;;
    *)
        echo "usage: $0 [${all_configurations[*]// /|}]..." >&2
        exit 2
        ;;
    esac
done
want() { [ -n "${wanted[$1]:-}" ]; }

mkdir -p "$ROOT/build"
rm -f "$ROOT"/build/*/test-results/*.xml

log "dependencies"
t_start=$SECONDS
if ! "$ROOT/scripts/deps.sh" test; then
    echo "0 passed, 1 failed, 0 skipped"
    exit 1
fi
deps_time=$((SECONDS - t_start))

# One line per configuration.
want native && run_build native native "$JOBS"
want win64 && run_build win64 wine "$WINE_CTEST_JOBS"
# The release build.  Built on every host; where the kernel runs no 32-bit
# programs its suites report themselves skipped (scripts/wine-run.sh).
want win32 && run_build win32 wine "$WINE_CTEST_JOBS"
# What users install: build/native installed into a temporary DESTDIR (tool,
# manual page, completion, MIME type, thumbnailer), then scripts/package.sh
# from build/native, build/win32 and build/win64.  Each check counts as one.
run_install_checks() {
    log "install and packages"
    local t0=$SECONDS out="$ROOT/build/check-install.log" p f k
    TAVREL_PACKAGE_BUILDS="$ROOT/build" bash "$ROOT/scripts/check-install.sh" "$ROOT/build/native" |
        tee "$out"
    local result=${PIPESTATUS[0]}
    if read -r _ p _ f _ k _ < <(grep '^check-install: ' "$out"); then
        total_passed=$((total_passed + p))
        total_failed=$((total_failed + f))
        total_skipped=$((total_skipped + k))
        summary+=("install: $p passed, $f failed, $k skipped [$((SECONDS - t0)) s]")
        [ "$k" -gt 0 ] && skipped_notes+=("install: $(grep -c '^skip' "$out") checks: $(sed -n 's/^skip  //p' "$out" | paste -sd';')")
    else
        total_failed=$((total_failed + 1))
        summary+=("install: NO RESULT")
    fi
    [ "$result" -eq 0 ] || status=1
}
if want install; then
    # The checks install build/native; alone, they build it without its suites.
    if ! want native && ! { cmake --preset native >/dev/null && cmake --build "$ROOT/build/native" --parallel "$JOBS" >/dev/null; }; then
        summary+=("install: BUILD FAILED")
        total_failed=$((total_failed + 1))
        status=1
    else
        run_install_checks
    fi
fi
# One clang build serves the sanitizers and the fuzzers: the native suites
# under AddressSanitizer and UndefinedBehaviorSanitizer (any finding, leaks
# included, aborts its suite), then each libFuzzer target for
# TAVREL_FUZZ_SECONDS (25) on its corpus and saved crash inputs, side by side.
want asan && run_build asan native 2

log "summary"
echo "dependencies checked in $deps_time s"
printf '%s\n' "${summary[@]}"
[ ${#skipped_notes[@]} -gt 0 ] && printf 'skipped: %s\n' "${skipped_notes[@]}"
echo "total $((SECONDS - t_start)) s"
[ "$total_failed" -eq 0 ] || status=1
echo "$total_passed passed, $total_failed failed, $total_skipped skipped"
exit "$status"
