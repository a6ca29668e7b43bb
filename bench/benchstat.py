#!/usr/bin/python3
"""Measurements and the report of scripts/bench.sh, read from /proc and from the agent's trace.

  benchstat.py find PREFIX NAME               pid of the process NAME (a Windows program's file
                                              name, or "wineserver") of the Wine prefix PREFIX
  benchstat.py window SECONDS OUT KEY=PID...  processor ticks and context switches of each PID
                                              over SECONDS; appends KEY.cpu_pct= and KEY.wakeups=
                                              (KEY=@PREFIX: Wine's helper processes of PREFIX)
  benchstat.py memory OUT KEY PID             VmRSS and the smaps breakdown of PID into OUT
  benchstat.py checks TRACE OUT [KEY]         per-mailbox time of each check in the agent's trace
                                              (KEY.check_ms=..., KEY "agent" by default)
  benchstat.py fetchmail RCFILE ROUNDS OUT [KEY]
                                              times fetchmail -c over RCFILE, median per mailbox
                                              (KEY.ms=..., KEY "fetchmail" by default)
  benchstat.py link TRACE RELAYLOG OUT        the row over a link with latency: per mailbox of
                                              each group (the address's domain, "clear-20"), the
                                              agent's time from its trace and both sides' round
                                              trips from the relay's log (link.GROUP.*=...)
  benchstat.py quiet TRACE SECONDS            returns once a window of SECONDS can run in which
                                              the agent of TRACE starts no check (after the one
                                              that runs or comes too soon, if need be)
  benchstat.py ended TRACE                    the number of the agent's checks that have ended
  benchstat.py report RESULTS                 prints the table and the memory breakdown

OUT and RESULTS are one file of "key=value" lines that every step appends to.
"""
import json
import os
import re
import statistics
import subprocess
import sys
import time

TICKS = os.sysconf("SC_CLK_TCK")


def read(path, mode="r"):
    with open(path, mode) as f:
        return f.read()


def environ_of(pid):
    try:
        raw = read(f"/proc/{pid}/environ", "rb")
    except OSError:
        return {}
    pairs = (item.split(b"=", 1) for item in raw.split(b"\0") if b"=" in item)
    return {k.decode(errors="replace"): v.decode(errors="replace") for k, v in pairs}


def program_of(pid):
    """The file name of a process's program: the last part of argv[0], either slash."""
    try:
        argv0 = read(f"/proc/{pid}/cmdline", "rb").split(b"\0")[0].decode(errors="replace")
    except OSError:
        return ""
    return re.split(r"[\\/]", argv0)[-1].lower()


def processes_of(prefix):
    """The pids of the processes of the Wine prefix PREFIX, with their programs' file names."""
    prefix = os.path.realpath(prefix)
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        env_prefix = environ_of(entry).get("WINEPREFIX", "")
        if env_prefix and os.path.realpath(env_prefix) == prefix:
            yield entry, program_of(entry)


def find(prefix, name):
    name = name.lower()
    # Debian's wineserver runs as "wineserver32" or "wineserver64".
    found = [int(pid) for pid, program in processes_of(prefix)
             if program == name or (name == "wineserver" and program.startswith(name))]
    if not found:
        sys.exit(f"benchstat: no process {name} in prefix {os.path.realpath(prefix)}")
    return min(found)  # the first started, should Wine have forked a helper of the same name


def cpu_ticks(pid):
    # Fields after the command's closing parenthesis: utime and stime are 14 and 15 of the line.
    rest = read(f"/proc/{pid}/stat").rsplit(")", 1)[1].split()
    return int(rest[11]) + int(rest[12])


def thread_switches(pid):
    """Context switches of each thread of pid, by thread id: (voluntary, involuntary). A wake-up is
    a voluntary one (the thread blocked and was woken); an involuntary one is the scheduler
    taking the processor away, which only the machine's other load decides."""
    counts = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            status = read(f"/proc/{pid}/task/{tid}/status")
        except OSError:
            continue  # ended meanwhile
        counts[tid] = tuple(int(re.search(rf"^{key}:\s+(\d+)", status, re.M).group(1))
                            for key in ("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches"))
    return counts


def append(out, values):
    with open(out, "a") as f:
        for key, value in values.items():
            f.write(f"{key}={value}\n")


def wine_helpers(prefix, measured):
    """Wine's own processes of a prefix (services, winedevice, explorer...): all but its
    wineserver and the processes measured by pid. A Windows program's name ends in .exe; the
    wineserver's and a script's do not."""
    return [pid for pid, program in processes_of(prefix)
            if pid not in measured and program.endswith(".exe")]


def sample(pids):
    """Processor ticks and context switches by thread of each pid still there. Threads that end
    during a window are lost with their counts: that only makes a figure smaller."""
    taken = {}
    for pid in pids:
        try:
            taken[pid] = (cpu_ticks(pid), thread_switches(pid))
        except OSError:
            pass  # ended meanwhile
    return taken


def window(seconds, out, pairs):
    """KEY=PID measures one process; KEY=@PREFIX the sum of Wine's helpers in PREFIX."""
    pids = dict(pair.split("=", 1) for pair in pairs)
    measured = {p for p in pids.values() if not p.startswith("@")}
    groups = {k: ([p] if not p.startswith("@") else wine_helpers(p[1:], measured))
              for k, p in pids.items()}
    before = sample({p for group in groups.values() for p in group})
    start = time.monotonic()
    time.sleep(seconds)
    wall = time.monotonic() - start
    after = sample(before)
    values = {}
    for key, group in groups.items():
        ticks, woke, programs, preempted = 0, {}, {}, 0
        for pid in group:
            if pid not in after:
                continue
            ticks += after[pid][0] - before[pid][0]
            switches = {t: (n[0] - before[pid][1].get(t, (0, 0))[0],
                            n[1] - before[pid][1].get(t, (0, 0))[1])
                        for t, n in after[pid][1].items()}
            threads = {t: n[0] for t, n in switches.items()}
            woke.update(threads)
            preempted += sum(n[1] for n in switches.values())
            name = program_of(pid)
            programs[name] = programs.get(name, 0) + sum(threads.values())
        values[f"{key}.cpu_pct"] = f"{100.0 * ticks / TICKS / wall:.3f}"
        values[f"{key}.cpu_ms"] = f"{1000.0 * ticks / TICKS:.0f}"
        values[f"{key}.wakeups"] = sum(woke.values())
        values[f"{key}.preempted"] = preempted
        if pids[key].startswith("@"):
            values[f"{key}.programs"] = " ".join(
                f"{name}:{n}" for name, n in sorted(programs.items(), key=lambda i: -i[1]) if n)
        else:
            # Which threads woke: the first thread of a Wine process runs its message loop.
            values[f"{key}.threads"] = " ".join(
                f"{t}:{n}" for t, n in sorted(woke.items(), key=lambda i: int(i[0])) if n)
        values[f"{key}.seconds"] = f"{wall:.1f}"
    append(out, values)


def mapping_name(path):
    if not path:
        return "[anonymous]"
    if path.startswith("["):
        return path.split(":")[0] + ("]" if ":" in path else "")
    return os.path.basename(path.replace(" (deleted)", ""))


def memory(out, key, pid):
    groups = {}
    current = None
    for line in read(f"/proc/{pid}/smaps").splitlines():
        fields = line.split()
        if re.match(r"^[0-9a-f]+-[0-9a-f]+ ", line):
            current = groups.setdefault(mapping_name(" ".join(fields[5:])), [0, 0])
        elif fields[0] == "Rss:":
            current[0] += int(fields[1])
        elif fields[0] in ("Private_Clean:", "Private_Dirty:"):
            current[1] += int(fields[1])
    rss = int(re.search(r"^VmRSS:\s+(\d+)", read(f"/proc/{pid}/status"), re.M).group(1))
    append(out, {f"{key}.rss_kb": rss, f"{key}.smaps": json.dumps(groups, separators=(",", ":"))})


def stamp_ms(stamp):
    h, m, s = stamp.split(":")
    return (int(h) * 3600 + int(m) * 60 + float(s)) * 1000.0


def checks(trace, out, key="agent"):
    """Each check runs from its "check due" line; its mailboxes are the "mailbox ..." lines up
    to the next check. The time per mailbox is first to last mailbox line over the gaps. Over
    TLS, the sessions' "TLS established in N ms" lines give the handshake's share of that."""
    runs, handshakes = [], []
    for line in read(trace, "rb").decode("latin-1").splitlines():
        m = re.match(r"^(\d\d:\d\d:\d\d\.\d\d\d) (.*)$", line)
        if not m:
            continue
        at, text = stamp_ms(m.group(1)), m.group(2)
        handshake = re.search(r": TLS established in ([0-9.]+) ms$", text)
        if handshake:
            handshakes.append(float(handshake.group(1)))
        elif text == "check due":
            runs.append([])
        elif runs and text.startswith("mailbox "):
            if runs[-1] and at < runs[-1][-1][0]:
                at += 24 * 3600 * 1000.0  # past midnight
            runs[-1].append((at, text))
    per_mailbox, counts, failed = [], [], 0
    for run in runs:
        counts.append(len(run))
        failed += sum(1 for _, text in run if " failed: " in text)
        if len(run) >= 2:
            per_mailbox.append((run[-1][0] - run[0][0]) / (len(run) - 1))
    values = {
        f"{key}.checks": len(per_mailbox),
        f"{key}.mailboxes": "/".join(map(str, counts)),
        f"{key}.failed": failed,
        f"{key}.check_ms_each": "/".join(f"{v:.2f}" for v in per_mailbox),
    }
    if per_mailbox:
        values[f"{key}.check_ms"] = f"{statistics.median(per_mailbox):.3f}"
    # The blocking floor taken right after each check: the check against the floor of its
    # moment, whatever else loads the machine then.
    floors = [float(v) for v in read_results(out).get(f"{key}.floors", "").split("/") if v]
    pairs = list(zip(per_mailbox, floors))
    if pairs:
        values[f"{key}.floor_ms"] = f"{statistics.median(floors):.3f}"
        values[f"{key}.floor_ratio"] = f"{statistics.median(c / f for c, f in pairs):.3f}"
        values[f"{key}.floor_ratios"] = "/".join(f"{c / f:.2f}" for c, f in pairs)
    if per_mailbox and handshakes:
        handshake = statistics.median(handshakes)
        values[f"{key}.handshake_ms"] = f"{handshake:.3f}"
        values[f"{key}.handshake_pct"] = f"{100.0 * handshake / statistics.median(per_mailbox):.1f}"
    append(out, values)


def trace_events(trace):
    """The agent's start, its checks' starts and ends, in ms of the local day (past midnight
    counted on)."""
    try:
        lines = read(trace, "rb").decode("latin-1").splitlines()
    except OSError:
        return None, [], []
    start, dues, ends, last = None, [], [], None
    for line in lines:
        m = re.match(r"^(\d\d:\d\d:\d\d\.\d\d\d) (.*)$", line)
        if not m:
            continue
        at, text = stamp_ms(m.group(1)), m.group(2)
        if last is not None and at < last - 12 * 3600 * 1000.0:
            at += 24 * 3600 * 1000.0
        last = at
        if text.startswith("start: ") and start is None:
            start = at
        elif text == "check due":
            dues.append(at)
        elif text == "tool tip: CX-Agent: Idle..." and len(ends) < len(dues):
            ends.append(at)  # a due check has ended
    return start, dues, ends


def ended(trace):
    print(len(trace_events(trace)[2]))


def quiet(trace, seconds, margin_s=5.0):
    """The minute tick comes 60 s after the agent's start, and 60 s after each check's end (the
    check holds its timer off): a window that would reach it waits for that check to end."""
    while True:
        start, dues, ends = trace_events(trace)
        now = time.localtime()
        now_ms = (now.tm_hour * 3600 + now.tm_min * 60 + now.tm_sec) * 1000.0 + \
            (time.time() % 1) * 1000.0
        if start is not None and len(dues) == len(ends):
            reference = ends[-1] if ends else start
            if now_ms < reference - 12 * 3600 * 1000.0:
                now_ms += 24 * 3600 * 1000.0
            if now_ms + (float(seconds) + margin_s) * 1000.0 < reference + 60 * 1000.0:
                return
        time.sleep(0.5)


def fetchmail(rcfile, rounds, out, key="fetchmail"):
    home = os.path.dirname(os.path.abspath(rcfile))
    env = dict(os.environ, FETCHMAILHOME=home, HOME=home)
    command = ["fetchmail", "--check", "--nosyslog", "-N", "-f", rcfile]
    per_mailbox, polls = [], 0
    for _ in range(rounds):
        start = time.perf_counter()
        run = subprocess.run(command, env=env, capture_output=True, text=True)
        wall = (time.perf_counter() - start) * 1000.0
        # One line per mailbox ("2 messages for bench1 at ..."); rc 1 means "no mail".
        polls = len(re.findall(r"^\d+ messages? .*for ", run.stdout, re.M))
        if run.returncode not in (0, 1) or polls == 0:
            sys.exit(f"benchstat: fetchmail failed ({run.returncode}): {run.stderr.strip()}")
        per_mailbox.append(wall / polls)
    append(out, {f"{key}.ms": f"{statistics.median(per_mailbox):.3f}",
                 f"{key}.mailboxes": polls,
                 f"{key}.ms_each": "/".join(f"{v:.2f}" for v in per_mailbox)})


def link(trace, relay_log, out):
    """Each mailbox of a check ends with its "mailbox ADDRESS: N new" (or "failed") line; its
    time runs from the line before (the check's "check due" for the first). The mailboxes of a
    group share the domain of their address, which names the relay they go through."""
    durations, failed = {}, {}
    previous = None
    for line in read(trace, "rb").decode("latin-1").splitlines():
        m = re.match(r"^(\d\d:\d\d:\d\d\.\d\d\d) (.*)$", line)
        if not m:
            continue
        at, text = stamp_ms(m.group(1)), m.group(2)
        if previous is not None and at < previous:
            at += 24 * 3600 * 1000.0  # past midnight
        if text == "check due":
            previous = at
            continue
        done = re.match(r"^mailbox [^@ ]+@([^ :]+)\.example(: \d+ new$| failed: )", text)
        if not done or previous is None:
            continue
        group = done.group(1)
        durations.setdefault(group, []).append(at - previous)
        failed[group] = failed.get(group, 0) + (done.group(2) == " failed: ")
        previous = at
    sessions = {}
    for line in read(relay_log).splitlines():
        record = json.loads(line)
        sessions.setdefault(record["name"], []).append(record)
    values = {}
    for group, times in durations.items():
        values[f"link.{group}.agent_ms"] = f"{statistics.median(times):.1f}"
        values[f"link.{group}.agent_mailboxes"] = len(times)
        values[f"link.{group}.agent_failed"] = failed[group]
    for name, records in sessions.items():
        side, group = name.split("-", 1)
        turns = sorted(r["turns"] for r in records)
        values[f"link.{group}.{side}_turns"] = statistics.median(turns)
        values[f"link.{group}.{side}_turns_range"] = f"{turns[0]}-{turns[-1]}"
        values[f"link.{group}.{side}_sessions"] = len(records)
        values[f"link.{group}.{side}_session_ms"] = \
            f"{statistics.median(r['ms'] for r in records):.1f}"
    append(out, values)


# The report ---------------------------------------------------------------------------------

WINE = "W"  # marks the rows whose figures depend on Wine
# The rows with a goal; a goal not met is explained below the table (shortfalls).
ROW_COMPONENT = "TmsRemotePOP per mailbox vs blocking ref"
ROW_FETCHMAIL = "agent scheduled check per mailbox vs fetchmail -c"
ROW_FLOOR = "  agent check vs the blocking floor after it"
ROW_IDLE_CPU = "agent cpu, idle"
ROW_IDLE_SERVER = "wineserver cpu, agent idle (ref: mintray's)"
ROW_IDLE_WAKE = "agent wake-ups, idle (ref: mintray's)"
ROW_SILENT_CPU = "agent cpu, silent server"
ROW_SILENT_SERVER = "wineserver cpu, silent server (ref: mintray's)"
ROW_SILENT_WAKE = "agent wake-ups, silent server (ref: mintray's)"
ROW_MEMORY = "resident memory idle vs minimal tray"
# The row over a link with latency: the goals at 20 ms each way, and the round trips.
LINK_GOALS = {"clear": 0.65, "stls": 0.75}
LINK_GOAL_DELAY = "20"
LINK_MODES = {"clear": "clear text", "stls": "STLS"}
LINK_TURNS_GOAL = 3


def link_row(mode, delay):
    return f"link {delay} ms each way, {LINK_MODES[mode]}: agent vs fetchmail -c"


def turns_row(mode):
    return f"  round trips after the greeting, {LINK_MODES[mode]} (ref: fetchmail -c)"


def number(results, key):
    try:
        return float(results[key])
    except (KeyError, ValueError):
        return None


def read_results(path):
    results = {}
    try:
        lines = read(path).splitlines()
    except OSError:
        return results
    for line in lines:
        if "=" in line:
            k, v = line.split("=", 1)
            results[k] = v
    return results


def report(path):
    results = read_results(path)
    rows = []

    def ratio_row(name, measured, reference, unit, limit, wine, ratio_key=None):
        # ratio_key: a ratio measured on its own (the median of rounds' ratios), else m / r.
        m, r = number(results, measured), number(results, reference)
        ratio = m / r if m is not None and r else None
        if ratio_key and number(results, ratio_key) is not None:
            ratio = number(results, ratio_key)
        met = "n/a" if ratio is None else ("yes" if limit is None or ratio <= limit else "NO")
        goal = "(reported)" if limit is None else f"<= {limit:g} x"
        rows.append((name, fmt(m, unit), fmt(r, unit), "-" if ratio is None else f"{ratio:.2f}",
                     goal, "-" if limit is None else met, wine))

    def load_row(name, measured, limit, wine):
        m = number(results, measured)
        met = "n/a" if m is None else ("yes" if m < limit else "NO")
        rows.append((name, fmt(m, "%"), "-", "-", f"< {limit:g} %", met, wine))

    def server_row(name, measured, reference, wine):
        # "No measurable load": within two clock ticks over the window of the bare prefix's.
        m, r = number(results, measured), number(results, reference)
        seconds = number(results, measured.replace(".cpu_pct", ".seconds")) or 30.0
        slack = 100.0 * 2 / TICKS / seconds
        met = "n/a" if m is None or r is None else ("yes" if m <= r + slack else "NO")
        rows.append((name, fmt(m, "%"), fmt(r, "%"), "-", f"<= ref + {slack:.2f} %", met, wine))

    def wake_row(name, measured, reference, wine):
        m, r = number(results, measured), number(results, reference)
        met = "n/a" if m is None or r is None else ("yes" if m <= r else "NO")
        rows.append((name, fmt(m, ""), fmt(r, ""), f"{m / r:.1f}" if m and r else "-",
                     "<= ref", met, wine))

    ratio_row(ROW_COMPONENT, "pop3bench.component_ms",
              "pop3bench.reference_ms", "ms", 1.3, WINE, "pop3bench.ratio")
    ratio_row(ROW_FETCHMAIL, "agent.check_ms",
              "fetchmail.ms", "ms", 2.0, WINE)
    # The same dialogue done with plain blocking calls in a Wine process: what Wine alone costs
    # against native fetchmail, and what the agent adds to that.
    ratio_row("  blocking floor, agent's dialogue, vs fetchmail", "pop3bench.floor_ms",
              "fetchmail.ms", "ms", None, WINE)
    # Each check against the floor taken right after it, in the agent's prefix.
    ratio_row(ROW_FLOOR, "agent.check_ms", "agent.floor_ms", "ms", 1.15, WINE,
              "agent.floor_ratio")
    # The TLS agent's check over the same mailboxes (tls.check_ms, tls.handshake_pct).
    tls, clear = number(results, "tls.check_ms"), number(results, "agent.check_ms")
    rows.append(("agent over TLS per mailbox vs clear text", fmt(tls, "ms"), fmt(clear, "ms"),
                 f"{tls / clear:.2f}" if tls and clear else "-", "(reported)", "-", WINE))
    share = number(results, "tls.handshake_pct")
    rows.append(("  TLS handshake share of a mailbox", fmt(share, "%"), "-", "-", "(reported)",
                 "-", WINE))
    # Over a link with latency: each side's time per mailbox, and the sends after waiting.
    delays = results.get("link.delays", "").split()
    for mode in LINK_MODES:
        for delay in delays:
            group = f"link.{mode}-{delay}"
            ratio_row(link_row(mode, delay), f"{group}.agent_ms", f"{group}.fetchmail.ms", "ms",
                      LINK_GOALS[mode] if delay == LINK_GOAL_DELAY else None, WINE)
        turns_delay = LINK_GOAL_DELAY if LINK_GOAL_DELAY in delays else (delays or [""])[0]
        m = number(results, f"link.{mode}-{turns_delay}.agent_turns")
        r = number(results, f"link.{mode}-{turns_delay}.fetchmail_turns")
        limit = LINK_TURNS_GOAL if mode == "clear" else None
        met = "-" if limit is None else "n/a" if m is None else "yes" if m <= limit else "NO"
        rows.append((turns_row(mode), "n/a" if m is None else f"{m:g}",
                     "n/a" if r is None else f"{r:g}", f"{m / r:.2f}" if m and r else "-",
                     f"<= {limit}" if limit else "(reported)", met, ""))
    load_row(ROW_IDLE_CPU, "idle.agent.cpu_pct", 0.1, WINE)
    server_row(ROW_IDLE_SERVER, "idle.server.cpu_pct",
               "idle.minserver.cpu_pct", WINE)
    wake_row(ROW_IDLE_WAKE, "idle.agent.wakeups",
             "idle.mintray.wakeups", WINE)
    load_row(ROW_SILENT_CPU, "silent.agent.cpu_pct", 0.1, WINE)
    server_row(ROW_SILENT_SERVER, "silent.server.cpu_pct",
               "idle.minserver.cpu_pct", WINE)
    wake_row(ROW_SILENT_WAKE, "silent.agent.wakeups",
             "idle.mintray.wakeups", WINE)
    m, r = number(results, "agent.rss_kb"), number(results, "mintray.rss_kb")
    results["agent.rss_mb"] = m / 1024 if m else ""
    results["mintray.rss_mb"] = r / 1024 if r else ""
    ratio_row(ROW_MEMORY, "agent.rss_mb", "mintray.rss_mb", "MB",
              1.3, WINE)

    heads = ("quantity", "measured", "reference", "ratio", "goal", "met?", "Wine")
    widths = [max(len(str(row[i])) for row in rows + [heads]) for i in range(len(heads))]
    line = "  ".join("{:<%d}" % w for w in widths)
    print(line.format(*heads))
    print("  ".join("-" * w for w in widths))
    for row in rows:
        print(line.format(*row))
    print()
    print("Wine = W: the figure is taken under Wine and moves with it (its wineserver round trips,")
    print("its DLLs and heaps); only fetchmail -c is native. Ratios compare like with like: both")
    print("sides of the first, the load rows and the memory row run under the same Wine.")
    print()
    shortfalls(results, {row[0] for row in rows if row[5] == "NO"})
    details = [
        ("pop3_bench rounds (TmsRemotePOP/reference/nothing new, ms per mailbox)",
         "pop3bench.rounds"),
        ("agent checks (ms per mailbox)", "agent.check_ms_each"),
        ("blocking floor right after each check (ms per mailbox) / the check against it",
         ("agent.floors", "agent.floor_ratios")),
        ("agent mailboxes per check", "agent.mailboxes"),
        ("agent mailbox failures", "agent.failed"),
        ("TLS agent checks (ms per mailbox)", "tls.check_ms_each"),
        ("TLS agent mailboxes per check / failures", ("tls.mailboxes", "tls.failed")),
        ("TLS handshake, median (ms)", "tls.handshake_ms"),
        ("fetchmail -c rounds (ms per mailbox)", "fetchmail.ms_each"),
        ("link: delays each way (ms) / mailboxes per group", ("link.delays", "link.mailboxes")),
        ("agent cpu ms / wake-ups over the idle window",
         ("idle.agent.cpu_ms", "idle.agent.wakeups")),
        ("mintray cpu ms / wake-ups over the idle window",
         ("idle.mintray.cpu_ms", "idle.mintray.wakeups")),
        ("agent cpu ms / wake-ups over the silent window",
         ("silent.agent.cpu_ms", "silent.agent.wakeups")),
        ("agent wake-ups by thread id, idle (the lowest id is the main thread)",
         "idle.agent.threads"),
        ("agent wake-ups by thread id, silent server", "silent.agent.threads"),
        ("mintray wake-ups by thread id, idle", "idle.mintray.threads"),
        ("agent resident memory after the checks (MB)", "agent.rss_after_kb"),
    ]
    for label, keys in details:
        if isinstance(keys, tuple):
            value = " / ".join(results.get(k, "?") for k in keys)
        elif keys.endswith("_kb") and keys in results:
            value = f"{int(results[keys]) / 1024:.1f}"
        else:
            value = results.get(keys, "?")
        print(f"{label}: {value}")
    print()
    breakdown(results)


def shortfalls(results, missed):
    """For each goal not met: the measured reason and what meeting it would take."""
    if not missed:
        print("Every goal is met.")
        print()
        return
    print("Goals not met: the measured reason, and what meeting it would take")
    said = set()

    def say(rows, text):
        if not missed & set(rows) or text in said:
            return
        said.add(text)
        heading = "; ".join(r for r in rows if r in missed)
        print(f"- {heading}:")
        words, width, out = text.split(), 96, "  "
        for word in words:
            if len(out) + 1 + len(word) > width:
                print(out)
                out = "  "
            out += ("" if out == "  " else " ") + word
        print(out)

    def value(key):
        return number(results, key)

    rounds = [tuple(map(float, r.split("/"))) for r in results.get("pop3bench.rounds", "").split()
              if r.count("/") == 2]
    if rounds:
        ratios = sorted(c / r for c, r, _ in rounds)
        within = sum(1 for x in ratios if x <= 1.3)
        say([ROW_COMPONENT],
            f"the rounds' own ratios range from {ratios[0]:.2f} to {ratios[-1]:.2f} (median "
            f"{statistics.median(ratios):.2f}); {within} of {len(ratios)} rounds are within 1.3. "
            "Both sides run the same dialogue in one process, ten mailboxes at a time in turn, "
            "and the rounds' times per mailbox spread from "
            f"{min(min(r[:2]) for r in rounds):.2f} to {max(max(r[:2]) for r in rounds):.2f} ms. "
            "A ratio that moves from round to round is the machine's load; one that stays above "
            "1.3 in most rounds is the component's cost, and meeting the goal then takes fewer "
            "round trips to the wineserver for each reply (they are what the component does "
            "more than the reference: its messages and its time-out counter).")
    agent, floor = value("agent.check_ms"), value("pop3bench.floor_ms")
    native = value("fetchmail.ms")
    if agent and floor and native:
        wine_share = floor / native
        checks, polls = ([float(v) for v in results.get(key, "").split("/") if v]
                         for key in ("agent.check_ms_each", "fetchmail.ms_each"))
        spread = (f" The agent's checks took {results['agent.check_ms_each']} ms a mailbox and "
                  f"fetchmail's rounds {min(polls):.2f} to {max(polls):.2f} ms, minutes apart: a "
                  "load that passes on the machine can fall on one side and not the other."
                  if checks and polls else "")
        design = ("what the design does in each mailbox (the message-driven socket and its "
                  "time-out counter, the tray's tool tip, the known-ids file)")
        verdict = ("The floor alone is over 2 x, so the goal cannot be met under this Wine."
                   if wine_share >= 2 else
                   f"The goal leaves the agent {2 / wine_share:.2f} x that floor for {design}; "
                   f"it takes {agent / floor:.2f} x.")
        say([ROW_FETCHMAIL],
            f"the agent's own dialogue done with plain blocking Winsock calls in a Wine process "
            f"costs {floor:.2f} ms a mailbox, {wine_share:.2f} x fetchmail's {native:.2f} ms: "
            "each Winsock call is a round trip to the wineserver, each of fetchmail's a kernel "
            f"call. {verdict} Meeting it takes Windows, where these are kernel calls, or a Wine "
            "with cheaper round trips." + spread)
    ratios = [float(v) for v in results.get("agent.floor_ratios", "").split("/") if v]
    if ratios:
        say([ROW_FLOOR],
            f"each check against the floor taken right after it: {'/'.join(map(str, ratios))}. "
            "Beside the floor's dialogue the agent's check does, per mailbox, what the design "
            "asks: the tool tip and the status window's label name the mailbox (a message to "
            "the tray's process under Wine), the known-ids file is read, messages are let "
            "through between mailboxes, and every wait for a reply is a message to its hidden "
            "window and a round of the message wait. A ratio that moves from check to check is "
            "the machine's load; one above the goal in every check is that work.")
    for window, rows, owner in (("idle", [ROW_IDLE_SERVER], "mintray"),
                                ("silent", [ROW_SILENT_SERVER], None)):
        woke, server = value(f"{window}.agent.wakeups"), value(f"{window}.server.wakeups")
        helpers = value(f"{window}.helpers.wakeups")
        if woke is None or server is None or helpers is None or (
                owner and None in (value("idle.minserver.wakeups"),
                                   value("idle.minhelpers.wakeups"))):
            continue
        text = (f"over the window the agent woke {woke:.0f} times, the server "
                f"{server:.0f} times, and Wine's own processes of the prefix "
                f"{helpers:.0f} times ({results.get(f'{window}.helpers.programs') or '-'})")
        if owner:
            text += (f"; mintray woke {value('idle.mintray.wakeups'):.0f} times, its server "
                     f"{value('idle.minserver.wakeups'):.0f} "
                     f"times, the helpers of its prefix {value('idle.minhelpers.wakeups'):.0f} "
                     f"({results.get('idle.minhelpers.programs') or '-'}). The difference is "
                     "the work of Wine's services and of the server's own time-outs, which "
                     "differ from prefix to prefix and from minute to minute; an agent that "
                     "wakes as often as mintray adds nothing to it that can be taken away.")
        else:
            text += (". The agent's wake-ups, and those of the tray's process (explorer.exe), "
                     "are the busy animation's (below).")
        say(rows, text)
    seconds = value("silent.agent.seconds") or 30.0
    timers = seconds / 0.35 + seconds / 1.0
    woke, cpu = value("silent.agent.wakeups"), value("silent.agent.cpu_ms")
    if woke is not None and cpu is not None:
        say([ROW_SILENT_CPU, ROW_SILENT_WAKE],
            "while a server is silent a check is running, and the design shows the busy "
            "animation: a new tray picture every 350 ms, and the socket's time-out counter ticks "
            f"each second, {timers:.0f} timer messages in {seconds:.0f} s. They came to "
            f"{woke / timers:.1f} wake-ups and {cpu / timers:.2f} ms of processor each: under "
            "Wine a frame's Shell_NotifyIcon serialises the icon's bitmaps and sends them to "
            "the tray's process. The wait adds nothing (idle, the agent wakes as often as "
            "mintray). Meeting the goal means no animation during a check, against the design; "
            "on Windows a frame is one call that hands the shell the icon's handle.")
    say([ROW_IDLE_CPU, ROW_IDLE_WAKE],
        "the wake-ups by thread below say which thread woke; the main thread's are its timers "
        "and messages.")
    say([ROW_MEMORY], "the breakdown by mapping below says where it goes.")
    for mode in LINK_MODES:
        for delay in results.get("link.delays", "").split():
            group = f"link.{mode}-{delay}"
            agent, native = value(f"{group}.agent_ms"), value(f"{group}.fetchmail.ms")
            turns, fturns = value(f"{group}.agent_turns"), value(f"{group}.fetchmail_turns")
            if None in (agent, native, turns, fturns):
                continue
            trip = 2 * float(delay)
            goal = LINK_GOALS[mode]
            say([link_row(mode, delay)],
                f"a round trip costs {trip:.0f} ms here. The agent's sessions took {turns:g} "
                f"round trips after the greeting (from {results.get(group + '.agent_turns_range')})"
                f", {results.get(group + '.agent_session_ms')} ms each at the relay, and "
                f"{agent:.1f} ms a mailbox in its check; fetchmail's took {fturns:g} "
                f"({results.get(group + '.fetchmail_turns_range')}), "
                f"{results.get(group + '.fetchmail_session_ms')} ms at the relay, "
                f"{native:.1f} ms a mailbox. The goal allows {goal * native:.1f} ms: "
                f"{max(0.0, (agent - goal * native) / trip):.1f} round trips fewer, or that much "
                "less of the agent's own time between and within its sessions.")
        group = f"link.{mode}-{LINK_GOAL_DELAY}"
        say([turns_row(mode)],
            f"the agent's sessions took {results.get(group + '.agent_turns_range', '?')} round "
            "trips after the greeting (the first session to each server in a run also asks "
            "CAPA); with PIPELINING they are the login with STAT, the walk's first message and "
            "QUIT, so more means the server did not say PIPELINING or a walk examined more than "
            "one message.")
    print()


def fmt(value, unit):
    if value is None or value == "":
        return "n/a"
    if unit == "%":
        return f"{value:.3f} %"
    if unit == "":
        return f"{value:.0f}"
    return f"{value:.2f} {unit}"


def breakdown(results):
    try:
        agent = json.loads(results["agent.smaps"])
        mintray = json.loads(results.get("mintray.smaps", "{}"))
    except (KeyError, ValueError):
        print("memory breakdown: n/a")
        return
    print("Resident memory by mapping, agent idle (KB; Rss counts shared library pages in full)")
    names = sorted(agent, key=lambda n: -agent[n][0])
    heads = ("mapping", "agent Rss", "private", "mintray Rss", "difference")
    rows = []
    for name in names[:15]:
        other = mintray.get(name, [0, 0])[0]
        rows.append((name, agent[name][0], agent[name][1], other, agent[name][0] - other))
    rest = names[15:]
    rows.append(("(all other mappings)", sum(agent[n][0] for n in rest),
                 sum(agent[n][1] for n in rest),
                 sum(v[0] for n, v in mintray.items() if n not in names[:15]),
                 sum(agent[n][0] for n in rest)
                 - sum(v[0] for n, v in mintray.items() if n not in names[:15])))
    total_a = sum(v[0] for v in agent.values())
    total_m = sum(v[0] for v in mintray.values())
    rows.append(("total", total_a, sum(v[1] for v in agent.values()), total_m,
                 total_a - total_m))
    width = max(len(r[0]) for r in rows)
    print(f"{heads[0]:<{width}}  {heads[1]:>9}  {heads[2]:>8}  {heads[3]:>11}  {heads[4]:>10}")
    for r in rows:
        print(f"{r[0]:<{width}}  {r[1]:>9}  {r[2]:>8}  {r[3]:>11}  {r[4]:>+10}")
    only = sorted((n for n in agent if n not in mintray), key=lambda n: -agent[n][0])
    if only:
        print("mapped by the agent only: " + ", ".join(f"{n} ({agent[n][0]} KB)" for n in only))


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    command, args = argv[1], argv[2:]
    if command == "find" and len(args) == 2:
        print(find(*args))
    elif command == "window" and len(args) >= 3:
        window(float(args[0]), args[1], args[2:])
    elif command == "memory" and len(args) == 3:
        memory(*args)
    elif command == "checks" and len(args) in (2, 3):
        checks(*args)
    elif command == "fetchmail" and len(args) in (3, 4):
        fetchmail(args[0], int(args[1]), *args[2:])
    elif command == "link" and len(args) == 3:
        link(*args)
    elif command == "quiet" and len(args) == 2:
        quiet(*args)
    elif command == "ended" and len(args) == 1:
        ended(*args)
    elif command == "report" and len(args) == 1:
        report(args[0])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
