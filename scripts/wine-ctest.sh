#!/usr/bin/env bash
# Runs the Windows tree's CTest under one persistent wineserver. Called inside xvfb-run so that
# Wine's desktop and every test window have a display.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
build="${1:-$PW_WIN_BUILD}"

trap pw_wine_down EXIT
pw_wine_up
ctest --test-dir "$build" --output-on-failure "${@:2}"
