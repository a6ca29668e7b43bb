#!/usr/bin/env bash
# The main job: the agent against a local POP3 server and the stand-in mail client, under Wine.
# Installs what is missing and builds first; as root or as a user with sudo (asked for only when
# packages are missing).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
pw_root_when_needed "$0" "$@"

"$PW_ROOT/scripts/setup.sh"
"$PW_ROOT/scripts/build.sh"

exec "$PW_ROOT/scripts/demo-run.sh"
