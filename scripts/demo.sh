#!/usr/bin/env bash
# The main job: the agent against a local POP3 server and the stand-in mail client, under Wine.
# Installs what is missing and builds first; as root or as a user with sudo (asked for only when
# packages are missing).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
pw_root_when_needed "$0" "$@"

"$PW_ROOT/scripts/setup.sh"
"$PW_ROOT/scripts/build.sh"

if [ ! -f "$PW_WIN_BUILD/src/agent/pwagent.exe" ]; then
    cat <<'TXT'

The agent is not built yet: what exists is the platform-free core and its tests.
When it is, this command will start dovecot on 127.0.0.1 with a few throw-away mailboxes,
write the client's files, start "pwagent.exe 1" under Wine beside the stand-in client
"CXsystem.exe", drop new mail into one mailbox and show the round trip from the trace:
check, new mail found, client started, count read.
TXT
    exit 0
fi
exec "$PW_ROOT/scripts/demo-run.sh"
