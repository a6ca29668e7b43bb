#!/usr/bin/env bash
# Configures and builds both trees: the host tree (core, sanitizers, fuzzers) and the Windows
# tree (the programs, tools and tests, cross-built with mingw-w64).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

pw_log "host build ($PW_HOST_BUILD)"
cmake -S "$PW_ROOT" -B "$PW_HOST_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
ninja -C "$PW_HOST_BUILD" -j"$PW_JOBS"

pw_log "windows build ($PW_WIN_BUILD)"
cmake -S "$PW_ROOT" -B "$PW_WIN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$PW_ROOT/cmake/toolchain-i686-w64-mingw32.cmake" >/dev/null
ninja -C "$PW_WIN_BUILD" -j"$PW_JOBS"
