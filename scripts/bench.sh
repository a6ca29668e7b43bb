#!/usr/bin/env bash
# The benchmark, in one go (run as root, about six minutes once built): a loopback dovecot with
# reused processes and 100 mailboxes of two messages each; pop3_bench's TmsRemotePOP beside its
# blocking reference; the real agent's scheduled check of the 100 mailboxes, timed from its
# trace; fetchmail -c over the same mailboxes; the processor use and wake-ups of the agent and
# its wineserver over 30 s idle and 30 s waiting on a silent server; resident memory of the agent
# and of a minimal tray program; the same scheduled check over implicit TLS, with the
# handshake's share. Prints one table of ratios against the goals. See
# docs/benchmark.md.
#
# Settings (environment): PW_BENCH_BUILD (build folder, default build/bench), PW_BENCH_SKIP_BUILD=1
# (use what is built there), PW_BENCH_CHECKS (scheduled checks to time, default 3, one a minute),
# PW_BENCH_ROUNDS (pop3_bench and fetchmail rounds, default 15), PW_BENCH_WINDOW (seconds of each
# processor window, default 30), PW_BENCH_LATENCIES (the delays of the row over a link with
# latency, ms each way, default "5 20 100"; empty: no such row), PW_BENCH_LINK_CHECKS and
# PW_BENCH_LINK_ROUNDS (that row's scheduled checks and fetchmail rounds, default 2 each).
set -euo pipefail
source "$(dirname "$0")/lib.sh"

[ "$(id -u)" -eq 0 ] || {
    echo "bench.sh: run as root (dovecot, and fetchmail's installation)" >&2
    exit 1
}
pw_with_display "$0" "$@"

build="${PW_BENCH_BUILD:-$PW_BUILD/bench}"
checks="${PW_BENCH_CHECKS:-3}"
rounds="${PW_BENCH_ROUNDS:-15}"
window="${PW_BENCH_WINDOW:-30}"
latencies="${PW_BENCH_LATENCIES-5 20 100}"
link_checks="${PW_BENCH_LINK_CHECKS:-2}"
link_rounds="${PW_BENCH_LINK_ROUNDS:-2}"
link_mailboxes=10
mailboxes=100
password=benchpw
mkdir -p "$build"
build="$(cd "$build" && pwd)"
run="$build/bench-run"
results="$run/results.txt"
stat="$PW_ROOT/bench/benchstat.py"
measure() { /usr/bin/python3 -B "$stat" "$@"; }
# Own prefixes, kept between runs (creating one takes seconds): the agent's, the one that waits
# on the silent server and the minimal tray program's, so that each wineserver serves one of them.
prefix_agent="$build/wineprefix-agent"
prefix_silent="$build/wineprefix-silent"
prefix_min="$build/wineprefix-mintray"
export WINEDLLOVERRIDES="mscoree,mshtml="

free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

listener_pid=""
relay_pid=""
cleanup() {
    [ -n "$listener_pid" ] && kill "$listener_pid" 2>/dev/null || true
    [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null || true
    for prefix in "$prefix_agent" "$prefix_silent" "$prefix_min"; do
        WINEPREFIX="$prefix" pw_wine_down
    done
    "$PW_ROOT/scripts/dovecot.sh" stop "$run/dovecot" >/dev/null 2>&1 || true
}
trap cleanup EXIT

pw_log "tools"
if ! command -v fetchmail >/dev/null; then
    apt-get update >/dev/null
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends fetchmail >/dev/null
fi
"$PW_ROOT/scripts/setup.sh"

# Release, as the package ships it, and stripped copies as the package makes them: what a user
# runs is what is measured (debug sections would be mapped and counted as resident memory).
if [ "${PW_BENCH_SKIP_BUILD:-0}" != 1 ]; then
    pw_log "build ($build, Release)"
    [ -f "$build/CMakeCache.txt" ] || cmake -S "$PW_ROOT" -B "$build" -G Ninja \
        -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$PW_ROOT/cmake/toolchain-i686-w64-mingw32.cmake" >/dev/null
    nice ninja -C "$build" -j1 pwagent pop3_bench mintray pwscramble addroot
fi

"$PW_ROOT/scripts/dovecot.sh" stop "$run/dovecot" >/dev/null 2>&1 || true
rm -rf "$run"
mkdir -p "$run/agent" "$run/tls" "$run/silent" "$run/mintray" "$run/pop3bench" "$run/fetchmail"
: >"$results"
for program in src/agent/pwagent.exe bench/mintray.exe bench/pop3_bench.exe; do
    i686-w64-mingw32-strip --strip-all -o "$run/$(basename "$program")" "$build/$program"
done
cp "$run/pwagent.exe" "$run/agent/"
cp "$run/pwagent.exe" "$run/silent/"
cp "$run/pwagent.exe" "$run/tls/"
mv "$run/mintray.exe" "$run/mintray/"
mv "$run/pop3_bench.exe" "$run/pop3bench/"

pw_log "dovecot on loopback: $mailboxes mailboxes of two messages, reused processes"
port="$(free_port)"
tls_port="$(free_port)"
mail_dir="$run/dovecot"
"$PW_ROOT/scripts/certs.sh" "$run/certs" >/dev/null
# The same mailboxes over POP3S too, for the agent that checks them over TLS.
"$PW_ROOT/scripts/dovecot.sh" start "$mail_dir" "$port" "$tls_port" \
    "$run/certs/server-chain.pem" "$run/certs/server.key"
# Reused login and POP3 processes, kept ready, and cached logins: the client sets the pace.
cat >>"$mail_dir/dovecot.conf" <<'EOF'
# Added by scripts/bench.sh: processes are reused and kept ready, logins cached.
service pop3-login {
  service_count = 0
  process_min_avail = 2
  process_limit = 4
}
service pop3 {
  service_count = 0
  process_min_avail = 2
  process_limit = 16
}
auth_cache_size = 1M
EOF
doveadm -c "$mail_dir/dovecot.conf" reload
message() { # USER N
    printf 'From: bench@example.org\r\nTo: %s\r\nSubject: message %s\r\nMessage-ID: <%s.%s@bench>\r\n\r\nA message of the benchmark.\r\n' \
        "$1" "$2" "$2" "$1"
}
for n in $(seq 1 "$mailboxes"); do
    "$PW_ROOT/scripts/dovecot.sh" adduser "$mail_dir" "bench$n" "$password"
    for m in 1 2; do
        message "bench$n" "$m" >"$run/message.eml"
        "$PW_ROOT/scripts/dovecot.sh" deliver "$mail_dir" "bench$n" "$run/message.eml"
    done
done
rm -f "$run/message.eml"

# The newest message of each mailbox is known to the client: a check finds nothing new. This
# also builds dovecot's indexes before anything is timed.
/usr/bin/python3 - "$port" "$mailboxes" "$password" "$run/agent" <<'PY'
import socket, sys
port, count, password, folder = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
for n in range(1, count + 1):
    s = socket.create_connection(("127.0.0.1", port))
    f = s.makefile("rb")
    def command(line):
        if line:
            s.sendall(line.encode() + b"\r\n")
        reply = f.readline().decode()
        if not reply.startswith("+OK"):
            sys.exit(f"bench{n}: {line.split()[0] if line else 'greeting'}: {reply.strip()}")
        return reply
    command("")
    command(f"USER bench{n}")
    command(f"PASS {password}")
    messages = int(command("STAT").split()[1])
    if messages != 2:
        sys.exit(f"bench{n}: {messages} messages, not 2")
    uidl = command(f"UIDL {messages}").split()[2]
    command("QUIT")
    s.close()
    name = f"{folder}/bench{n}@127.0.0.1:{port}.MES"
    with open(name, "wb") as known:
        known.write(f"{uidl};bench\r\n".encode())
PY

pw_log "fetchmail -c over the $mailboxes mailboxes (native), $rounds rounds"
rc="$run/fetchmail/fetchmailrc"
{
    # No STLS: fetchmail insists on one by default, and this dovecot speaks clear text only.
    echo "defaults protocol pop3 service $port sslproto ''"
    for n in $(seq 1 "$mailboxes"); do
        echo "poll bench$n via 127.0.0.1 user \"bench$n\" there with password \"$password\""
    done
} >"$rc"
chmod 600 "$rc"
measure fetchmail "$rc" "$rounds" "$results"
grep '^fetchmail\.' "$results"

pw_log "pop3_bench: TmsRemotePOP and the blocking reference in one Wine process"
export WINEPREFIX="$prefix_agent"
pw_wine_up
# The TLS agent runs in this prefix: the test CA must be a trusted root in it. Done here, long
# before the idle window, so that nothing it starts is still at work then.
wine "$build/tools/addroot/addroot.exe" "$(pw_wine_path "$run/certs/ca.pem")" >/dev/null
(cd "$run/pop3bench" && wine pop3_bench.exe --no-idle --rounds "$rounds" "127.0.0.1:$port" \
    'bench%d' "$password" "$mailboxes") | tr -d '\r' | tee "$run/pop3bench/output.txt"
sed -n 's/^bench: component_ms=\([0-9.]*\) reference_ms=\([0-9.]*\) ratio=\([0-9.]*\) floor_ms=\([0-9.]*\).*/pop3bench.component_ms=\1\npop3bench.reference_ms=\2\npop3bench.ratio=\3\npop3bench.floor_ms=\4/p' \
    "$run/pop3bench/output.txt" >>"$results"
echo "pop3bench.rounds=$(sed -n 's/^ *round [0-9]*: TmsRemotePOP \([0-9.]*\) .*reference \([0-9.]*\) .*nothing new \([0-9.]*\) .*/\1\/\2\/\3/p' \
    "$run/pop3bench/output.txt" | paste -sd' ')" >>"$results"
grep -q '^pop3bench.component_ms=' "$results" || {
    echo "bench.sh: pop3_bench gave no result" >&2
    exit 1
}

# The client's files: stand-alone mode on a countdown of one minute, no dial-up.
scrambled="$(wine "$build/tools/pwscramble/pwscramble.exe" "$password")"
client_files() { # FOLDER SERVER COUNT
    local n
    for n in $(seq 1 "$3"); do
        printf '1^bench%s@bench.example^%s^%s^^False^^bench%s\r\n' "$n" "$2" "$scrambled" "$n"
    done >"$1/vtMailDa.dat"
    printf '[Auto Schedule]\r\nType=1\r\n' >"$1/Corvex.INI"
    printf '0\r\n' >"$1/PWise.flg"
}
client_files "$run/agent" "127.0.0.1:$port" "$mailboxes"
# The TLS agent: the same mailboxes through dovecot's POP3S port, which pwagent.ini names as
# implicit TLS; its known-ids files are the clear agent's under the other port's name.
client_files "$run/tls" "127.0.0.1:$tls_port" "$mailboxes"
printf '[Server 127.0.0.1]\r\nTLS=implicit\r\n' >"$run/tls/pwagent.ini"
for known in "$run/agent"/*.MES; do
    name="$(basename "$known")"
    cp "$known" "$run/tls/${name%:*}:$tls_port.MES"
done

# The silent server: accepts and never says a word. The agent's only mailbox points there; its
# time-out (240 s) outlasts the window.
silent_port="$(free_port)"
/usr/bin/python3 - "$silent_port" "$run/silent/accepted" <<'PY' &
import socket, sys, time
server = socket.socket()
server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
server.bind(("127.0.0.1", int(sys.argv[1])))
server.listen(8)
held = []
while True:
    connection, _ = server.accept()
    held.append(connection)
    with open(sys.argv[2], "a") as f:
        f.write("accepted\n")
PY
listener_pid=$!
client_files "$run/silent" "127.0.0.1:$silent_port" 1

start_program() { # PREFIX FOLDER TRACE PROGRAM [ARGS...]
    local prefix="$1" folder="$2" trace="$3"
    shift 3
    WINEPREFIX="$prefix" pw_wine_up
    (cd "$folder" && WINEPREFIX="$prefix" PWAGENT_TRACE="$trace" exec wine "$@" \
        >"$folder/wine.log" 2>&1 </dev/null) &
}
pid_of() { # PREFIX PROGRAM
    local pid
    for _ in $(seq 1 100); do
        pid="$(measure find "$1" "$2" 2>/dev/null)" && {
            echo "$pid"
            return 0
        }
        sleep 0.2
    done
    echo "bench.sh: $2 did not start in $1" >&2
    return 1
}
trace_agent="$run/agent/trace.txt"
trace_silent="$run/silent/trace.txt"
trace_tls="$run/tls/trace.txt"

pw_log "the agent (100 mailboxes), the silent-server agent and mintray under Wine"
started=$SECONDS
start_program "$prefix_min" "$run/mintray" "" mintray.exe
start_program "$prefix_agent" "$run/agent" "$(pw_wine_path "$trace_agent")" pwagent.exe 1
agent="$(pid_of "$prefix_agent" pwagent.exe)"
mintray="$(pid_of "$prefix_min" mintray.exe)"
sleep 3 # the silent server's check comes a little after the agent's, never at the same time
start_program "$prefix_silent" "$run/silent" "$(pw_wine_path "$trace_silent")" pwagent.exe 1
silent="$(pid_of "$prefix_silent" pwagent.exe)"
server_agent="$(pid_of "$prefix_agent" wineserver)"
server_silent="$(pid_of "$prefix_silent" wineserver)"
server_min="$(pid_of "$prefix_min" wineserver)"

sleep $((started + 18 - SECONDS > 0 ? started + 18 - SECONDS : 0))
# No check may fall into the window: when start-up took so long that the first minute tick would,
# the window follows that check instead.
measure quiet "$trace_agent" "$window"
echo "idle window: ${window} s, with no minute tick in it"
# Wine's own processes of each prefix too (services, winedevice, explorer): what else asks the
# wineserver for its time.
measure window "$window" "$results" idle.agent="$agent" idle.server="$server_agent" \
    idle.mintray="$mintray" idle.minserver="$server_min" idle.helpers="@$prefix_agent" \
    idle.minhelpers="@$prefix_min"
measure memory "$results" agent "$agent"
measure memory "$results" mintray "$mintray"
WINEPREFIX="$prefix_min" pw_wine_down
# Started now, its minute ticks fall between the clear agent's and after the silent window's.
start_program "$prefix_agent" "$run/tls" "$(pw_wine_path "$trace_tls")" pwagent.exe 1

echo "silent window: ${window} s, once the agent's one mailbox has connected"
for _ in $(seq 1 120); do
    [ -s "$run/silent/accepted" ] && break
    sleep 1
done
[ -s "$run/silent/accepted" ] || {
    echo "bench.sh: the agent never connected to the silent server" >&2
    exit 1
}
sleep 2
measure window "$window" "$results" silent.agent="$silent" silent.server="$server_silent" \
    silent.helpers="@$prefix_silent"
WINEPREFIX="$prefix_silent" pw_wine_down

echo "waiting for $checks scheduled checks of each agent, clear and TLS (one a minute), each" \
    "clear one followed by the blocking floor"
wanted=$((checks * mailboxes))
checked() { # the mailbox lines of a trace, 0 before it exists
    local n
    n="$(grep -c '^[0-9:.]* mailbox ' "$1" 2>/dev/null)" || true
    echo "${n:-0}"
}
# The floor of the agent's dialogue (pop3_bench --floor-only) right after each of its checks, in
# its prefix, while the TLS agent is between checks: the check is set against the floor of its
# own moment, whatever else loads the machine.
floors=()
for _ in $(seq 1 $((checks * 60 + 150))); do
    if [ "${#floors[@]}" -lt "$(measure ended "$trace_agent")" ]; then
        measure quiet "$trace_tls" 10
        floor="$(cd "$run/pop3bench" && wine pop3_bench.exe --no-idle --floor-only --rounds 3 \
            "127.0.0.1:$port" 'bench%d' "$password" "$mailboxes" | tr -d '\r' |
            sed -n 's/^floor: floor_ms=\([0-9.]*\).*/\1/p')"
        [ -n "$floor" ] || {
            echo "bench.sh: the floor after check $((${#floors[@]} + 1)) gave no result" >&2
            exit 1
        }
        floors+=("$floor")
        echo "  check $((${#floors[@]})): floor ${floor} ms a mailbox right after it"
    fi
    [ "${#floors[@]}" -ge "$checks" ] && [ "$(checked "$trace_tls")" -ge "$wanted" ] && break
    sleep 1
done
floors_text="${floors[*]}"
echo "agent.floors=${floors_text// //}" >>"$results"
echo "agent.rss_after_kb=$(sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$agent/status")" \
    >>"$results"
WINEPREFIX="$prefix_agent" pw_wine_down
measure checks "$trace_agent" "$results"
# tls.check_ms, and the handshake's share from the "TLS established in" lines.
measure checks "$trace_tls" "$results" tls
echo "agent phase took $((SECONDS - started)) s"

# Over a link with latency: the first ten mailboxes through a relay of our own that holds every
# segment the same time each way, in clear text (127.0.0.1) and over STLS ("localhost", which
# the certificate names), at each delay. The agent's scheduled checks go through relays of their
# own and fetchmail -c through others, at the same time: their sessions are told apart in the
# relay's log, their times per mailbox by the agent's trace and fetchmail's rounds.
if [ -n "$latencies" ]; then
    pw_log "over a link with latency: $latencies ms each way, $link_mailboxes mailboxes, clear text and STLS"
    link="$run/link"
    mkdir -p "$link/agent" "$link/fetchmail"
    routes=()
    for delay in $latencies; do
        for mode in clear stls; do
            routes+=("agent-$mode-$delay=0:$port:$delay" "fetchmail-$mode-$delay=0:$port:$delay")
        done
    done
    /usr/bin/python3 -B "$PW_ROOT/bench/latency_relay.py" "$link/relay.jsonl" "${routes[@]}" \
        >"$link/relay.ports" 2>"$link/relay.log" &
    relay_pid=$!
    for _ in $(seq 1 100); do
        grep -q '^ready$' "$link/relay.ports" 2>/dev/null && break
        sleep 0.1
    done
    grep -q '^ready$' "$link/relay.ports" || {
        echo "bench.sh: the relay did not start: $(cat "$link/relay.log")" >&2
        exit 1
    }
    relay_port() { sed -n "s/^$1 //p" "$link/relay.ports"; }
    : >"$link/agent/vtMailDa.dat"
    fetchmail_rounds=()
    for delay in $latencies; do
        for mode in clear stls; do
            host=127.0.0.1
            tls_options="sslproto ''"
            if [ "$mode" = stls ]; then
                host=localhost
                tls_options="sslproto tls1.2+ sslcertfile $run/certs/ca.pem"
            fi
            agent_port="$(relay_port "agent-$mode-$delay")"
            for n in $(seq 1 "$link_mailboxes"); do
                printf '1^bench%s@%s-%s.example^%s:%s^%s^^False^^bench%s\r\n' "$n" "$mode" \
                    "$delay" "$host" "$agent_port" "$scrambled" "$n" >>"$link/agent/vtMailDa.dat"
                cp "$run/agent/bench$n@127.0.0.1:$port.MES" \
                    "$link/agent/bench$n@$host:$agent_port.MES"
            done
            rc="$link/fetchmail/$mode-$delay.rc"
            {
                echo "defaults protocol pop3 service $(relay_port "fetchmail-$mode-$delay") $tls_options"
                for n in $(seq 1 "$link_mailboxes"); do
                    echo "poll bench$n via $host user \"bench$n\" there with password \"$password\""
                done
            } >"$rc"
            chmod 600 "$rc"
            fetchmail_rounds+=("$rc:link.$mode-$delay.fetchmail")
        done
    done
    printf '[Auto Schedule]\r\nType=1\r\n' >"$link/agent/Corvex.INI"
    printf '0\r\n' >"$link/agent/PWise.flg"
    printf '[Server localhost]\r\nTLS=stls\r\n' >"$link/agent/pwagent.ini"
    cp "$run/pwagent.exe" "$link/agent/"
    trace_link="$link/agent/trace.txt"
    start_program "$prefix_agent" "$link/agent" "$(pw_wine_path "$trace_link")" pwagent.exe 1
    (
        for round in $(seq 1 "$link_rounds"); do
            for job in "${fetchmail_rounds[@]}"; do
                measure fetchmail "${job%%:*}" 1 "$link/fetchmail/round$round.txt" "${job#*:}"
            done
        done
    ) &
    fetchmail_pid=$!
    wanted=$((link_checks * link_mailboxes * $(echo $latencies | wc -w) * 2))
    for _ in $(seq 1 $((link_checks * 60 + 240))); do
        [ "$(checked "$trace_link")" -ge "$wanted" ] && break
        sleep 1
    done
    wait "$fetchmail_pid"
    WINEPREFIX="$prefix_agent" pw_wine_down
    kill "$relay_pid" 2>/dev/null || true
    relay_pid=""
    # fetchmail's rounds: the median of each group's rounds.
    for job in "${fetchmail_rounds[@]}"; do
        key="${job#*:}"
        each="$(cat "$link/fetchmail"/round*.txt | sed -n "s/^$key\.ms=//p" | paste -sd' ')"
        echo "$key.ms_each=${each// //}"
        echo "$key.ms=$(/usr/bin/python3 -c 'import statistics, sys; print(f"{statistics.median(map(float, sys.argv[1:])):.3f}")' $each)"
    done >>"$results"
    echo "link.delays=$latencies" >>"$results"
    echo "link.mailboxes=$link_mailboxes" >>"$results"
    measure link "$trace_link" "$link/relay.jsonl" "$results"
    grep '^link\.' "$results"
fi

pw_log "results (trace: $trace_agent; all figures: $results)"
measure report "$results"
