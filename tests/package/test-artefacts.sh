#!/usr/bin/env bash
# Tests of the Windows artefacts that scripts/package.sh made in build/package: the zip holds
# exactly the files of installer/files.txt; the winget and Scoop manifests are complete and carry
# the artefacts' hashes; the release programs carry no debug sections, stay under their size
# bounds and carry the version and manifest; under Wine (own prefix, inside xvfb-run) the silent
# installer puts the files and the uninstaller beside it into the folder given by /D=, registers
# that uninstaller and no autostart, the installed pwagent.exe starts and ends as the built one
# does, and the silent uninstaller removes what was installed, and only that.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib.sh"

# Stripped sizes are about 1.4 MB and 0.3 MB: the bounds leave room to grow, but a program that
# kept its debug information (several MB) or linked something unplanned fails.
readonly kAgentMaxBytes=$((2560 * 1024))
readonly kCtrlMaxBytes=$((1024 * 1024))
# Generous bounds on Wine's waits: a loaded machine must not fail a test.
readonly kRunSeconds=120

source "$(dirname "$0")/common.sh"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\pwagent'
work="$out/test"
export WINEPREFIX="$out/wineprefix"

[ -n "$version" ] && [ -f "$zip" ] && [ -f "$setup" ] || {
    echo "FAILED: no artefacts of version '$version' in $out: run scripts/package.sh" >&2
    exit 1
}
rm -rf "$work"
mkdir -p "$work"
expected="$work/expected.txt"
pw_package_files | sort >"$expected"

# Every file below DIR, relative to it, sorted; nothing when DIR is gone.
files_in() { [ ! -d "$1" ] || (cd "$1" && find . -type f | sed 's|^\./||' | sort); }
same_list() { diff -u "$1" "$2" >&2; }

pw_log "the zip"
unzip -Z1 "$zip" | grep -v '/$' | sort >"$work/zip.txt"
check "the zip holds exactly the files of installer/files.txt" same_list "$expected" "$work/zip.txt"
unzip -q "$zip" -d "$work/zip"

pw_log "the manifests"
check "the winget and Scoop manifests are complete and name these artefacts" \
    /usr/bin/python3 "$PW_ROOT/tests/package/check_manifests.py" "$out" "$version"

pw_log "the release programs"
has_no_debug_sections() { ! i686-w64-mingw32-objdump -h "$1" | grep -q '\.debug'; }
is_at_most() { [ "$(stat -c %s "$1")" -le "$2" ]; }
# VERSIONINFO texts are UTF-16; the manifest is embedded as it stands.
has_version() { strings -e l "$1" | grep -A1 -x FileVersion | grep -q -x "$version.0"; }
has_manifest() { grep -q 'level="asInvoker"' "$1" && grep -q '<dpiAware' "$1"; }
for program in pwagent.exe:$kAgentMaxBytes pwctrl.exe:$kCtrlMaxBytes; do
    exe="$work/zip/${program%%:*}"
    check "${program%%:*} has no debug sections" has_no_debug_sections "$exe"
    check "${program%%:*} is $(stat -c %s "$exe") bytes, at most ${program##*:}" \
        is_at_most "$exe" "${program##*:}"
    check "${program%%:*} carries FileVersion $version.0" has_version "$exe"
    check "${program%%:*} carries its manifest" has_manifest "$exe"
done

pw_log "the installer under Wine ($WINEPREFIX)"
pw_wine_up
trap pw_wine_down EXIT

key_exists() { wine reg query "$key" >/dev/null 2>&1; }
key_value() { # NAME: the value's data as "reg query" prints it
    wine reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}
no_autostart() {
    local run
    for run in 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' \
        'HKCU\Software\Microsoft\Windows\CurrentVersion\Run'; do
        ! wine reg query "$run" 2>/dev/null | grep -qi pwagent || return 1
    done
    ! find "$WINEPREFIX/drive_c" -ipath '*startup*' -iname '*pwagent*' | grep -q .
}
install_into() { # DIR
    timeout "$kRunSeconds" wine "$setup" /S "/D=$(pw_wine_path "$1")"
}
# The uninstaller runs from a copy of itself in the temporary folder and returns at once: wait
# (with a generous bound) until it is gone from the folder.
uninstall_from() { # DIR
    timeout "$kRunSeconds" wine "$1/$uninstaller" /S
    local i
    for ((i = 0; i < kRunSeconds; i++)); do
        [ -e "$1/$uninstaller" ] || return 0
        sleep 1
    done
    return 1
}

# An empty folder: everything lands there, and the uninstaller leaves nothing, not even it.
folder="$work/CXsystem"
mkdir -p "$folder"
check "the silent installer ends with 0" install_into "$folder"
(cat "$expected" && echo "$uninstaller") | sort >"$work/installed-expected.txt"
files_in "$folder" >"$work/installed.txt"
check "the installer put exactly the listed files and its uninstaller into the folder" \
    same_list "$work/installed-expected.txt" "$work/installed.txt"
same_files() {
    local file
    while read -r file; do cmp -s "$work/zip/$file" "$folder/$file" || return 1; done <"$expected"
}
check "the installed files are those of the zip" same_files
check "the installed uninstaller is the one SHA256SUMS names" \
    cmp "$out/$uninstaller" "$folder/$uninstaller"
check "the uninstall key exists" key_exists
windows_folder="$(pw_wine_path "$folder")"
values_right() {
    [ "$(key_value DisplayVersion)" = "$version" ] &&
        [ "$(key_value InstallLocation)" = "$windows_folder" ] &&
        [ "$(key_value UninstallString)" = "\"$windows_folder\\$uninstaller\"" ] &&
        [ "$(key_value QuietUninstallString)" = "\"$windows_folder\\$uninstaller\" /S" ] &&
        [ "$(key_value NoModify)" = 0x1 ] && [ "$(key_value NoRepair)" = 0x1 ] &&
        [ -n "$(key_value DisplayName)" ]
}
check "the uninstall key names the version, the folder and the silent uninstaller" values_right
check "no autostart: no Run value, no Startup shortcut" no_autostart

# The installed agent as the built one: without arguments it ends at once with 0; with an
# interval but no flag file it ends by itself at its first flag-file test, with 0.
run_agent() { # EXE ARGS... : runs it in its own folder; prints the exit status and the trace
    local exe="$1" trace status=0
    shift
    trace="$work/trace-$(basename "$(dirname "$exe")")-$#.txt"
    rm -f "$trace"
    (cd "$(dirname "$exe")" &&
        PWAGENT_TRACE="$(pw_wine_path "$trace")" timeout "$kRunSeconds" wine "$exe" "$@") ||
        status=$?
    echo "$status"
    # The trace lines without their times.
    [ -f "$trace" ] && sed -e 's/\r$//' -e 's/^[0-9:. -]*//' "$trace"
}
built="$work/built"
mkdir -p "$built"
cp "$PW_BUILD/win-release/src/agent/pwagent.exe" "$built/"
started_and_ended() { [ "$(head -1 <<<"$installed_run")" = 0 ] && [ "$(wc -l <<<"$installed_run")" -gt 1 ]; }
same_run() { diff -u <(echo "$built_run") <(echo "$installed_run") >&2; }
for args in "" "1"; do
    # shellcheck disable=SC2086 # the arguments are split on purpose
    installed_run="$(run_agent "$folder/pwagent.exe" $args)"
    # shellcheck disable=SC2086
    built_run="$(run_agent "$built/pwagent.exe" $args)"
    check "installed 'pwagent.exe $args' started, wrote its trace and ended with 0" started_and_ended
    check "installed 'pwagent.exe $args' ran as the built one" same_run
done
rm -f "$work"/trace-*.txt

check "the silent uninstaller ran" uninstall_from "$folder"
check "the folder is gone" test ! -e "$folder"
check "the uninstall key is gone" eval '! key_exists'

# The mail client's folder: the client's files, also one among the documents, stay.
folder="$work/client"
mkdir -p "$folder/pwagent-docs"
for file in CXsystem.exe vtMailDa.dat PWise.flg pwagent-docs/notes.txt; do
    echo "the client's $file" >"$folder/$file"
done
files_in "$folder" >"$work/client-before.txt"
check "the silent installer beside the client ends with 0" install_into "$folder"
check "the silent uninstaller beside the client ran" uninstall_from "$folder"
files_in "$folder" >"$work/client-after.txt"
check "the uninstaller left the client's files, and only them" \
    same_list "$work/client-before.txt" "$work/client-after.txt"
check "the uninstall key is gone again" eval '! key_exists'

checks_done artefact
