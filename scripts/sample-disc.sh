# The tavrel tool and the sample disc, for the scripts that need pictures to
# work on.  Source it:
#   . scripts/sample-disc.sh
#
#   tavrel_build_tool BUILD [CMAKE_OPTION...]
#       configures BUILD as a release build (with the options given) and
#       builds the tool there; prints only errors.  Sets TAVREL_TOOL to
#       BUILD/cli/tavrel.
#   tavrel_sample_disc [--say] DISC [BUILD [CMAKE_OPTION...]]
#       writes the sample disc, DISC/Extends/Sg006.rq6 ... Sg010.rq6, unless
#       it is there already.  The tool is built in BUILD first, as
#       tavrel_build_tool does; without BUILD, TAVREL_TOOL writes it.  --say
#       prints a line before writing it.
#
# Builds run TAVREL_JOBS jobs at a time (default: one per core).
# shellcheck shell=bash

TAVREL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

tavrel_build_tool() {
    local build=$1
    shift
    cmake -S "$TAVREL_ROOT" -B "$build" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null || return
    cmake --build "$build" --target tavrel --parallel "${TAVREL_JOBS:-$(nproc)}" >/dev/null ||
        return
    TAVREL_TOOL="$build/cli/tavrel"
}

tavrel_sample_disc() {
    local say=no
    if [ "${1:-}" = --say ]; then
        say=yes
        shift
    fi
    local disc=$1
    shift
    # The last picture is written last: with it the disc is complete.
    [ -f "$disc/Extends/Sg010.rq6" ] && return 0
    if [ $# -gt 0 ]; then
        tavrel_build_tool "$@" || return
    fi
    [ "$say" = no ] || echo "Writing the sample disc into $disc ..."
    "$TAVREL_TOOL" sample-disc "$disc" >/dev/null
}
