#!/usr/bin/env bash
# Makes the Windows artefacts on Linux: a release build of pwagent.exe and pwctrl.exe
# (build/win-release), then in build/package the portable zip "pwagent-<version>-win32.zip", the
# NSIS installer "pwagent-<version>-setup.exe" (its uninstaller "pwagent-uninstall.exe" and the
# two programs lie beside them), "SHA256SUMS" and the winget and Scoop manifests. The files are
# those of installer/files.txt; the version is the CMake project version.
#
# Two runs on the same sources give the same bytes: every time stamp is SOURCE_DATE_EPOCH (the
# time of the last commit unless set). With PW_SIGN_PFX the programs, the uninstaller and the
# installer are signed (scripts/sign.sh); PW_RELEASE_URL is where the manifests say the files are
# published. See docs/releasing.md. Installs what is missing first (as root, or through sudo).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
pw_root_when_needed "$0" "$@"

release="$PW_BUILD/win-release"
out="$PW_BUILD/package"
stage="$out/stage"
uninstaller="pwagent-uninstall.exe"
release_url="${PW_RELEASE_URL:-https://example.invalid/pwagent/releases}"

"$PW_ROOT/scripts/setup.sh"

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH="$(git -C "$PW_ROOT" log -1 --format=%ct 2>/dev/null)" || {
        echo "package: $PW_ROOT is no git checkout: set SOURCE_DATE_EPOCH (seconds since 1970)" >&2
        exit 1
    }
fi
export SOURCE_DATE_EPOCH
# zip writes local times: the same time zone on every machine.
export TZ=UTC
if [ -n "${PW_SIGN_PFX:-}" ]; then
    "$PW_ROOT/scripts/sign.sh" --check
    signing="signed with $PW_SIGN_PFX"
else
    signing="not signed (PW_SIGN_PFX is not set)"
fi
pw_log "time stamps $(date -u -d "@$SOURCE_DATE_EPOCH" '+%F %T') UTC; $signing"

pw_log "release build ($release)"
cmake -S "$PW_ROOT" -B "$release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PW_ROOT/cmake/toolchain-i686-w64-mingw32.cmake" >/dev/null
ninja -C "$release" -j"$PW_JOBS" pwagent pwctrl
version="$(pw_product_version "$release")"
[ -n "$version" ] || { echo "package: no version in $release/generated/pwversion.h" >&2; exit 1; }

pw_log "staging pwagent $version ($stage)"
rm -rf "$stage" "$out/winget" "$out/scoop"
rm -f "$out"/pwagent-*-win32.zip "$out"/pwagent-*-setup.exe \
    "$out"/{SHA256SUMS,files.nsh,pwagent.exe,pwctrl.exe,"$uninstaller"}
mkdir -p "$stage"
# Windows users read the texts in Notepad: CR LF line ends.
to_crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
while read -r file; do
    mkdir -p "$stage/$(dirname "$file")"
    case "$file" in
    pwagent.exe) cp "$release/src/agent/$file" "$stage/$file" ;;
    pwctrl.exe) cp "$release/src/ctrlmodule/$file" "$stage/$file" ;;
    pwagent-readme.txt) sed "s/@PW_VERSION@/$version/" "$PW_ROOT/installer/readme.txt" >"$stage/$file.lf"
        to_crlf "$stage/$file.lf" "$stage/$file"
        rm "$stage/$file.lf" ;;
    pwagent-docs/*) to_crlf "$PW_ROOT/docs/$(basename "$file")" "$stage/$file" ;;
    *) echo "package: no rule for $file in installer/files.txt" >&2; exit 1 ;;
    esac
done < <(pw_package_files)
if [ -n "${PW_SIGN_PFX:-}" ]; then
    "$PW_ROOT/scripts/sign.sh" "$stage/pwagent.exe" "$stage/pwctrl.exe"
fi
# The zip and the installer record each file's time and the zip its mode: the same for all.
find "$stage" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} +
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

zip="$out/pwagent-$version-win32.zip"
setup="$out/pwagent-$version-setup.exe"

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
    # makensis runs these on the uninstaller it made, before it packs it into the installer.
    if [ -n "${PW_SIGN_PFX:-}" ]; then
        printf '!uninstfinalize '\''"%s" "%%1"'\''\n' "$PW_ROOT/scripts/sign.sh"
    fi
    printf '!uninstfinalize '\''cp "%%1" "%s"'\''\n' "$out/$uninstaller"
} >"$files_nsh"
makensis -V2 -NOCD -DPW_VERSION="$version" -DPW_VERSION_QUAD="$version.0" \
    -DPW_FILES="$files_nsh" -DPW_OUTFILE="$setup" \
    "$PW_ROOT/installer/pwagent.nsi"
if [ -n "${PW_SIGN_PFX:-}" ]; then
    "$PW_ROOT/scripts/sign.sh" "$setup"
fi

pw_log "SHA-256 ($out/SHA256SUMS)"
cp "$stage/pwagent.exe" "$stage/pwctrl.exe" "$out/"
(cd "$out" && sha256sum pwagent.exe pwctrl.exe "$uninstaller" "$(basename "$zip")" \
    "$(basename "$setup")" >SHA256SUMS)
cat "$out/SHA256SUMS"

pw_log "manifests for winget and Scoop ($out/winget, $out/scoop; files at $release_url)"
/usr/bin/python3 "$PW_ROOT/installer/manifests.py" --version "$version" --url "$release_url" \
    --installer "$setup" --zip "$zip" --out "$out"

pw_log "artefacts ($signing)"
for artefact in "$zip" "$setup"; do
    printf '%10d bytes  %s\n' "$(stat -c %s "$artefact")" "$artefact"
done
unzip -l "$zip"
