#!/usr/bin/env bash
# Installs what the build, the tests and the demo need on Debian 12 (run as root). Quick when
# everything is there already: it only calls apt-get when a package is missing.
set -euo pipefail

packages=(
    cmake ninja-build clang libclang-rt-14-dev lld googletest
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
    wine wine32:i386 xvfb xauth fonts-dejavu-core
    dovecot-pop3d python3 procps
    libgnutls30:i386 openssl stunnel4
    nsis zip unzip
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# --check: only tell by the exit status whether anything is missing (scripts/lib.sh uses it to
# decide whether a script needs root).
if [ "${1:-}" = "--check" ]; then
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
apt-get update
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
