#!/usr/bin/env bash
# The test command: installs what is missing, builds both trees, builds the product with the
# second Windows toolchain (clang) and starts it, runs the host tests (under AddressSanitizer and
# UBSan), the Windows tests (under Wine and Xvfb), makes the Windows artefacts and tests them
# (scripts/package.sh, tests/package/test-artefacts.sh), builds them again elsewhere and signs
# them (tests/package/test-release.sh), runs the commands the documentation shows
# (tests/docs/doc_commands.py) and ends with a short fuzz run.
# Exits non-zero on any failure. FUZZ_SECONDS sets the seconds per fuzz target (default 5).
# Run it as root or as a user with sudo: it asks for root only when packages are missing.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
pw_root_when_needed "$0" "$@"

"$PW_ROOT/scripts/setup.sh"
"$PW_ROOT/scripts/build.sh"
"$PW_ROOT/scripts/build-clang.sh"

pw_log "host tests"
ctest --test-dir "$PW_HOST_BUILD" --output-on-failure
pw_ctest_skips "$PW_HOST_BUILD"

pw_log "windows tests (Wine, Xvfb)"
pw_xvfb "$PW_ROOT/scripts/wine-ctest.sh" "$PW_WIN_BUILD"

pw_log "windows artefacts: the zip, the installer and the manifests"
"$PW_ROOT/scripts/package.sh"
pw_xvfb "$PW_ROOT/tests/package/test-artefacts.sh"
pw_log "release: a second build gives the same bytes; signed artefacts verify"
"$PW_ROOT/tests/package/test-release.sh"

pw_log "the commands that README.md, CONTRIBUTING.md and docs/releasing.md show"
pw_xvfb /usr/bin/python3 "$PW_ROOT/tests/docs/doc_commands.py" "$PW_ROOT"

pw_log "fuzz smoke run"
"$PW_ROOT/scripts/fuzz.sh" "${FUZZ_SECONDS:-5}"

pw_log "all tests passed"
