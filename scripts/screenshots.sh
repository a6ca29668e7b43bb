#!/usr/bin/env bash
# Takes the README's screenshots under Xvfb: the status window of a running agent (opened by a
# real tray double-click message) in schedule-table and in countdown mode, and pwctrl. Writes
# docs/screenshots/*.png. Needs the Windows tree; builds what is missing. Installs what is
# missing first, its own tools too (setup.sh --screenshots: x11-apps, imagemagick, fonts-wine),
# as root or through sudo.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
PW_SETUP_OPTIONS=(--screenshots)

if [ -z "${PW_SCREENSHOTS_IN_XVFB:-}" ]; then
    pw_root_when_needed "$0" "$@"
    "$PW_ROOT/scripts/setup.sh" "${PW_SETUP_OPTIONS[@]}"
    export PW_SCREENSHOTS_IN_XVFB=1
    # A prefix of its own: its windows draw their own frames (there is no window manager).
    export WINEPREFIX="${PW_SCREENSHOTS_PREFIX:-$PW_BUILD/wineprefix-screenshots}"
    pw_xvfb "$0" "$@"
    exit
fi

pw_log "building pwagent, pwctrl and trayclick ($PW_WIN_BUILD)"
cmake -S "$PW_ROOT" -B "$PW_WIN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$PW_ROOT/cmake/toolchain-i686-w64-mingw32.cmake" >/dev/null
ninja -C "$PW_WIN_BUILD" -j"$PW_JOBS" pwagent pwctrl trayclick >/dev/null

out="$PW_ROOT/docs/screenshots"
mkdir -p "$out"
work="$(mktemp -d)"
agent_pid=""
cleanup() {
    [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null || true
    pw_wine_down
    rm -rf "$work"
}
trap cleanup EXIT
pw_wine_up
# This Wine does not look in its own font folder: the classic faces go into the prefix.
cp /usr/share/wine/fonts/{sserife*.fon,marlett.ttf,tahoma*.ttf} "$WINEPREFIX/drive_c/windows/Fonts/"
for key in Decorated Managed; do
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v "$key" /d N /f >/dev/null 2>&1
done

# The screen cut to the window of this title, frame and caption included.
shoot() {
    local title="$1" file="$2" rect
    rect="$(wine "$PW_WIN_BUILD/tools/trayclick/trayclick.exe" --rect "$title" | tr -d '\r')"
    sleep 1.5 # let the window finish painting
    xwd -silent -root | convert xwd:- -crop "$rect" +repage "$out/$file"
    pw_log "wrote docs/screenshots/$file"
}

# A stand-alone agent in a folder of its own with a few mailboxes; its servers refuse at once,
# should a scheduled minute come round while the picture is taken.
run_agent() {
    local mode="$1"
    rm -rf "$work/agent" && mkdir -p "$work/agent"
    cp "$PW_WIN_BUILD/src/agent/pwagent.exe" "$work/agent/"
    printf '%s\r\n' \
        "1^anna@example.org^127.0.0.1:1^^^False^^anna" \
        "1^office@example.org^127.0.0.1:1^^^False^^office" \
        "1^sales@example.com^127.0.0.1:1^^^False^^sales" \
        "1^archive^127.0.0.1:1^^^False^^archive" \
        "1^old@example.net^127.0.0.1:1^^^True^^old" >"$work/agent/vtMailDa.dat"
    # Line 4: interval; 5: permanent connection; 6: interpret scripts; 8: print incoming.
    printf '\r\n\r\n\r\n15\r\n0\r\n1\r\n\r\n1\r\n' >"$work/agent/setupRAS.RAS"
    if [ "$mode" = schedule ]; then
        printf '[Auto Schedule]\r\nType=2\r\nTime1=06:30\r\nTime2=09:00\r\nTime3=12:15\r\nTime4=17:45\r\nTime5=22:00\r\n' \
            >"$work/agent/Corvex.INI"
    fi
    printf '0\r\n' >"$work/agent/PWise.flg"
    (cd "$work/agent" && exec wine pwagent.exe 15 >/dev/null 2>&1) &
    agent_pid=$!
    wine "$PW_WIN_BUILD/tools/trayclick/trayclick.exe"
}

stop_agent() {
    rm -f "$work/agent/PWise.flg" # a stand-alone agent ends within 10 s of its flag file
    wait "$agent_pid" 2>/dev/null || true
    agent_pid=""
}

run_agent schedule
shoot "Mail Agent Schedule" status-window-schedule.png
stop_agent

run_agent countdown
shoot "Mail Agent Schedule" status-window-countdown.png
stop_agent

(cd "$work" && exec wine "$PW_WIN_BUILD/src/ctrlmodule/pwctrl.exe" >/dev/null 2>&1) &
ctrl_pid=$!
sleep 3
shoot "Postwises Control Module!" pwctrl.png
kill "$ctrl_pid" 2>/dev/null || true
