#!/usr/bin/env bash
# The demo's round trip, once everything is built (scripts/demo.sh builds first): dovecot on
# 127.0.0.1 with three throw-away mailboxes, the client's files in a demo folder, the agent in
# stand-alone mode under Wine with the stand-in client beside it; new mail is dropped into one
# mailbox and the agent's trace shows the check, the new mail, the client start and the count.
# Then background mode: the stand-in client runs, "pwagent.exe 1 /BGR" reports its check to it
# over DDE, asks it to fetch the new mail ("GET:"), takes its "DONE:" and ends on its "CLOSE".
# Every mailbox is secured: alice, bob and carol by STLS on the clear port (pwagent.ini asks for
# it for 127.0.0.1), dave by implicit TLS on dovecot's POP3S port ("localhost"), with a
# throw-away CA that the demo's Wine prefix trusts.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

pw_with_display "$0" "$@"

demo="$PW_BUILD/demo"
mail_dir="$demo/dovecot"
port="${PW_DEMO_PORT:-11110}"
tls_port="${PW_DEMO_TLS_PORT:-11995}"
certs="$PW_BUILD/demo-certs"
trace="$demo/trace.txt"
export WINEPREFIX="$PW_BUILD/wineprefix-demo"
PWAGENT_TRACE="$(pw_wine_path "$trace")"
PW_CXSTAND_LOG="$(pw_wine_path "$demo/CXsystem.log")"
export PWAGENT_TRACE PW_CXSTAND_LOG

agent_pid=""
cleanup() {
    [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null || true
    "$PW_ROOT/scripts/dovecot.sh" stop "$mail_dir" >/dev/null 2>&1 || true
    pw_wine_down
}
trap cleanup EXIT

# True when the agent's trace has a line matching each PATTERN.
trace_has() { # PATTERN...
    local pattern
    for pattern in "$@"; do
        grep -q -e "$pattern" "$trace" || return 1
    done
}

# Shows the agent's trace as it grows until it has a line matching each PATTERN (150 s at the
# most).
follow_trace_until() { # PATTERN...
    local shown=0 lines
    for _ in $(seq 1 150); do
        if [ -f "$trace" ]; then
            lines=$(wc -l <"$trace")
            if [ "$lines" -gt "$shown" ]; then
                tail -n +"$((shown + 1))" "$trace" | sed 's/^/    /'
                shown=$lines
            fi
            trace_has "$@" && break
        fi
        sleep 1
    done
}

# Waits up to SECONDS for the agent to end, shows the last LINES of its trace, fails otherwise.
wait_for_agent_end() { # SECONDS LINES WHEN
    for _ in $(seq 1 "$1"); do
        kill -0 "$agent_pid" 2>/dev/null || break
        sleep 1
    done
    tail -n "$2" "$trace" | sed 's/^/    /'
    if kill -0 "$agent_pid" 2>/dev/null; then
        echo "demo: the agent did not end $3" >&2
        exit 1
    fi
    agent_pid=""
}

say() { printf '\n\033[1m>> %s\033[0m\n' "$*"; }

message() { # FROM SUBJECT
    printf 'From: %s\r\nTo: demo\r\nSubject: %s\r\nMessage-ID: <%s.%s@demo>\r\n\r\nHello from the demo.\r\n' \
        "$1" "$2" "$RANDOM$RANDOM" "$(date +%s%N)"
}

say "Setting up $demo"
"$PW_ROOT/scripts/dovecot.sh" stop "$mail_dir" >/dev/null 2>&1 || true
rm -rf "$demo"
mkdir -p "$demo"
cp "$PW_WIN_BUILD/src/agent/pwagent.exe" "$PW_WIN_BUILD/tools/cxsystem/CXsystem.exe" "$demo/"

"$PW_ROOT/scripts/certs.sh" "$certs"
say "Starting dovecot on 127.0.0.1:$port (STLS) and :$tls_port (POP3S) with mailboxes alice, bob, carol and dave"
"$PW_ROOT/scripts/dovecot.sh" start "$mail_dir" "$port" "$tls_port" \
    "$certs/server-chain.pem" "$certs/server.key"
accounts=""
for user in alice bob carol dave; do
    "$PW_ROOT/scripts/dovecot.sh" adduser "$mail_dir" "$user" "pw-$user"
    message "old@example.org" "An old message for $user" >"$demo/old.eml"
    "$PW_ROOT/scripts/dovecot.sh" deliver "$mail_dir" "$user" "$demo/old.eml"
    scrambled="$("$PW_HOST_BUILD/tools/pwscramble/pwscramble" "pw-$user")"
    server="127.0.0.1:$port"
    [ "$user" = dave ] && server="localhost:$tls_port"
    accounts+="1^$user@demo.example^$server^$scrambled^^False^^$user"$'\r\n'
done
printf '%s' "$accounts" >"$demo/vtMailDa.dat"
printf '[Defaults]\r\nAllowClearPasswords=no\r\n[Server 127.0.0.1]\r\nTLS=stls\r\n[Server localhost]\r\nTLS=implicit\r\n' \
    >"$demo/pwagent.ini"
printf '[Auto Schedule]\r\nType=1\r\n' >"$demo/Corvex.INI"
printf '0\r\n' >"$demo/PWise.flg"
rm -f "$demo/old.eml"

pw_wine_up
wine "$PW_WIN_BUILD/tools/addroot/addroot.exe" "$(pw_wine_path "$certs/ca.pem")" >/dev/null
cd "$demo"
say "The client has fetched what is there now (CXsystem.exe /PWGM records the known ids)"
wine CXsystem.exe /PWGM
cat "$demo"/*.MES | sed 's/^/    known id: /'

say "Starting the agent: pwagent.exe 1 (stand-alone mode, a check every minute)"
rm -f "$trace"
wine pwagent.exe 1 &
agent_pid=$!
sleep 5
say "New mail for bob"
message "friend@example.org" "Lunch tomorrow?" >"$demo/new.eml"
"$PW_ROOT/scripts/dovecot.sh" deliver "$mail_dir" bob "$demo/new.eml"

say "Waiting for the agent's minute tick (its trace follows)"
follow_trace_until "client ended" "tool tip: CX-Agent: New messages were retrieved"
trace_has "client ended: 1 messages retrieved" || { echo "demo: the round trip did not complete" >&2; exit 1; }

say "What the stand-in client did"
sed 's/^/    /' "$demo/CXsystem.log"

say "Removing PWise.flg: the agent ends within about ten seconds"
rm -f "$demo/PWise.flg"
wait_for_agent_end 20 2 "when its flag file went"
say "Round trip done"

say "Background mode: the stand-in client runs and serves DDE (CXsystem / TalkerConversion)"
client_log="$demo/CXsystem.log"
: >"$client_log"
: >"$demo/CXsystem.cmd" # the client pokes every line appended here at the agent
wine CXsystem.exe &
client_pid=$!
for _ in $(seq 1 30); do
    grep -q "window: shown" "$client_log" 2>/dev/null && break
    sleep 1
done

trace="$demo/trace-background.txt"
PWAGENT_TRACE="$(pw_wine_path "$trace")"
rm -f "$trace"
say "Starting the agent: pwagent.exe 1 /BGR (background mode, a check every minute)"
wine pwagent.exe 1 /BGR &
agent_pid=$!
sleep 5
say "New mail for alice, carol and dave (dave's mailbox is on the POP3S port)"
for user in alice carol dave; do
    message "news@example.org" "News for $user" >"$demo/new.eml"
    "$PW_ROOT/scripts/dovecot.sh" deliver "$mail_dir" "$user" "$demo/new.eml"
done

say "Waiting for the agent's minute tick (its trace follows)"
follow_trace_until "dde in: DONE:"
trace_has "dde in: DONE:3" || { echo "demo: the background round trip did not complete" >&2; exit 1; }

say "What the stand-in client received and did"
grep -E "poke|dde|retrieval|mailbox|ack" "$client_log" | sed 's/^/    /'

say "The client pokes CLOSE: the agent ends"
echo "CLOSE" >>"$demo/CXsystem.cmd"
wait_for_agent_end 30 3 "on CLOSE"
kill "$client_pid" 2>/dev/null || true
say "Background round trip done"
