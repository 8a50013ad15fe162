#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix and passes its exit
# code on.  CMake uses it as the emulator for the cross-built test suites.
# Console programs need no X display; GUI tests use the DISPLAY of the caller
# (scripts/test.sh starts one Xvfb for the whole run).
set -u
# shellcheck source=scripts/wine-env.sh
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
tavrel_wine_prefix_init || exit 1
exec wine "$@"
