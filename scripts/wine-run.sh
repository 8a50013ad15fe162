#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix and passes its exit
# code on.  CMake uses it as the emulator for the cross-built test suites.
# Console programs need no X display; GUI tests use the DISPLAY of the caller
# (scripts/test.sh starts one Xvfb for the whole run).
#
# A 32-bit program on a host that cannot run one is not run: the script says
# why and exits with 77, which ctest counts as a skipped test.
set -u
# shellcheck source=scripts/wine-env.sh
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
if [ "$TAVREL_WINE32" != yes ] && [ -f "${1:-}" ] && tavrel_pe_is_32bit "$1"; then
    echo "SKIPPED: $(basename "$1") is a 32-bit program and $TAVREL_WINE32_WHY"
    exit 77
fi
tavrel_wine_prefix_init || exit 1
exec "$TAVREL_WINE" "$@"
