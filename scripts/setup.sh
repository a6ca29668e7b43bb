#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on Debian 12 (run as root). Quick when
# everything is there already: it only calls apt-get when a package is missing.
#   --screenshots  also the tools of scripts/screenshots.sh, which nothing else needs
#   --check        only tell by the exit status whether anything is missing (scripts/lib.sh
#                  uses it to decide whether a script needs root)
set -euo pipefail

packages=(
    cmake ninja-build clang libclang-rt-14-dev lld googletest
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
    wine wine32:i386 xvfb xauth fonts-dejavu-core
    dovecot-pop3d python3 procps
    libgnutls30:i386 openssl stunnel4
    nsis zip unzip osslsigncode python3-yaml
)

check=0
for option in "$@"; do
    case "$option" in
    --check) check=1 ;;
    # fonts-wine: the classic faces the windows are designed in (the tests do without them).
    --screenshots) packages+=(x11-apps imagemagick fonts-wine) ;;
    *) echo "setup: unknown option $option" >&2; exit 2 ;;
    esac
done

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "$check" -eq 1 ]; then
    [ ${#missing[@]} -eq 0 ]
    exit
fi
if [ ${#missing[@]} -eq 0 ]; then
    echo "setup: everything is installed"
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages (${missing[*]}); run as root" >&2
    exit 1
fi
echo "setup: installing ${missing[*]}"
dpkg --add-architecture i386
# A mirror in the middle of a sync fails one index now and then; try again, and go on with what
# was fetched: the install below fails clearly if a package is really out of reach.
for try in 1 2 3; do
    apt-get update && break
    echo "setup: apt-get update failed (try $try of 3)" >&2
    sleep 20
done
apt_install() { DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "$@"; }
# When an index of the security suite could not be fetched for one architecture, the two
# architectures' candidates differ and the i386 libraries cannot be installed; the release's own
# versions agree on both, so a second try takes those.
if ! apt_install "${missing[@]}"; then
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    echo "setup: install failed; trying again with the versions of $release itself" >&2
    apt_install -t "$release" "${missing[@]}"
fi
