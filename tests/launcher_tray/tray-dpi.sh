#!/usr/bin/env bash
# Runs the tray's DPI test of tray_dpi_tests.exe (the argument) under Wine at 120, 144 and 192
# DPI, in a Wine prefix of its own beside the program: its LogPixels setting is the display's
# DPI for every program started in it. The shared prefix stays at 96 DPI for the other tests.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"
program="$1"
export WINEPREFIX
WINEPREFIX="$(cd "$(dirname "$program")" && pwd)/wineprefix-dpi"
pw_wine_up
trap pw_wine_down EXIT
for dpi in 120 144 192; do
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
        >/dev/null 2>&1
    PW_TEST_DPI="$dpi" wine "$program" --gtest_brief=1 \
        --gtest_filter='TrayIconAtDisplayDpi.*'
done
