#!/usr/bin/env bash
# Makes the two Windows artefacts on Linux: a release build of pwagent.exe and pwctrl.exe
# (build/win-release), then in build/package the portable zip "pwagent-<version>-win32.zip" and
# the NSIS installer "pwagent-<version>-setup.exe", both holding the files of installer/files.txt.
# The version is the CMake project version. Installs what is missing first (as root, or through
# sudo when it must).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
pw_root_when_needed "$0" "$@"

release="$PW_BUILD/win-release"
out="$PW_BUILD/package"
stage="$out/stage"

"$PW_ROOT/scripts/setup.sh"

pw_log "release build ($release)"
cmake -S "$PW_ROOT" -B "$release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PW_ROOT/cmake/toolchain-i686-w64-mingw32.cmake" >/dev/null
ninja -C "$release" -j"$PW_JOBS" pwagent pwctrl
version="$(pw_product_version "$release")"
[ -n "$version" ] || { echo "package: no version in $release/generated/pwversion.h" >&2; exit 1; }

pw_log "staging pwagent $version ($stage)"
rm -rf "$stage"
mkdir -p "$stage"
# Windows users read the texts in Notepad: CR LF line ends.
to_crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
while read -r file; do
    mkdir -p "$stage/$(dirname "$file")"
    case "$file" in
    pwagent.exe) i686-w64-mingw32-strip --strip-all -o "$stage/$file" "$release/src/agent/$file" ;;
    pwctrl.exe) i686-w64-mingw32-strip --strip-all -o "$stage/$file" "$release/src/ctrlmodule/$file" ;;
    pwagent-readme.txt) sed "s/@PW_VERSION@/$version/" "$PW_ROOT/installer/readme.txt" >"$stage/$file.lf"
        to_crlf "$stage/$file.lf" "$stage/$file"
        rm "$stage/$file.lf" ;;
    pwagent-docs/*) to_crlf "$PW_ROOT/docs/$(basename "$file")" "$stage/$file" ;;
    *) echo "package: no rule for $file in installer/files.txt" >&2; exit 1 ;;
    esac
done < <(pw_package_files)

zip="$out/pwagent-$version-win32.zip"
setup="$out/pwagent-$version-setup.exe"
rm -f "$zip" "$setup"

pw_log "portable zip ($zip)"
(cd "$stage" && pw_package_files | zip -X -q "$zip" -@)

pw_log "installer ($setup)"
# The install and uninstall lines of the listed files, for the NSIS script.
files_nsh="$out/files.nsh"
{
    echo '!macro PW_INSTALL_FILES'
    pw_package_files | while read -r file; do
        dir="$(dirname "$file")"
        [ "$dir" = . ] && dir="" || dir="\\${dir//\//\\}"
        printf '    SetOutPath "$INSTDIR%s"\n    File "%s"\n' "$dir" "$stage/$file"
    done
    echo '!macroend'
    echo '!macro PW_UNINSTALL_FILES'
    pw_package_files | while read -r file; do
        printf '    Delete "$INSTDIR\\%s"\n' "${file//\//\\}"
    done
    # Folders of the list, deepest first, removed only when empty.
    pw_package_files | while read -r file; do
        dir="$(dirname "$file")"
        while [ "$dir" != . ]; do
            echo "$dir"
            dir="$(dirname "$dir")"
        done
    done | sort -u -r | while read -r dir; do
        printf '    RMDir "$INSTDIR\\%s"\n' "${dir//\//\\}"
    done
    echo '!macroend'
} >"$files_nsh"
makensis -V2 -NOCD -DPW_VERSION="$version" -DPW_VERSION_QUAD="$version.0" \
    -DPW_FILES="$files_nsh" -DPW_OUTFILE="$setup" "$PW_ROOT/installer/pwagent.nsi"

pw_log "artefacts"
for artefact in "$zip" "$setup"; do
    printf '%10d bytes  %s\n' "$(stat -c %s "$artefact")" "$artefact"
done
unzip -l "$zip"
