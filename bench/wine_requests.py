#!/usr/bin/python3
"""Requests that one thread makes to Wine's server, read from a `wineserver -f -d1` log: a figure
that the machine's load does not move, beside the timings of scripts/bench.sh.

  wine_requests.py mailboxes TID LOG[:SKIP]...  requests per mailbox by name, one column per log:
                                                counted from the thread's first socket (the
                                                first after SKIP) to its last, so whole mailboxes
                                                only
  wine_requests.py idle TID LOG                 what wakes the thread from its first WM_TIMER on:
                                                the message that ended each block, and the
                                                requests until the next block

TID is the thread's id as the log writes it (the first thread of the first program is 0024).
See docs/benchmark.md.
"""
import collections
import re
import sys

REQUEST = re.compile(r"^([0-9a-f]{4}): (\w+)\((.*)$")


def requests(log, tid):
    """(name, is_reply, line) of every request and reply of thread tid."""
    with open(log, errors="replace") as f:
        for line in f:
            m = REQUEST.match(line)
            if m and m.group(1) == tid:
                yield m.group(2), ") = " in line, line.rstrip()


def named(name, line):
    """A request's name, told apart where one name serves several purposes."""
    if name == "ioctl":
        return "ioctl " + re.search(r"code=(\w+)", line).group(1)
    if name == "open_file_object" and "Afd" in line:
        return "open_file_object (socket)"
    if name == "get_window_children":
        return name + (" (Shell_TrayWnd)" if "Shell_TrayWnd" in line else " (child by id)")
    if name == "set_queue_mask" and "skip_wait=1" in line:
        return name + " (SendMessage)"
    return name


def per_mailbox(log, tid, skip):
    names = [named(n, line) for n, reply, line in requests(log, tid) if not reply]
    marks = [i for i, n in enumerate(names) if n == "open_file_object (socket)"][skip:]
    if len(marks) < 2:
        sys.exit(f"{log}: fewer than two sockets of thread {tid}")
    whole = len(marks) - 1
    counts = collections.Counter(names[marks[0]:marks[-1]])
    return {k: v / whole for k, v in counts.items()}, whole


def mailboxes(tid, entries):
    columns = []
    for entry in entries:
        log, _, skip = entry.partition(":")
        columns.append((log,) + per_mailbox(log, tid, int(skip or 0)))
    names = sorted({k for _, c, _ in columns for k in c},
                   key=lambda k: (-max(c.get(k, 0) for _, c, _ in columns), k))
    print("| request | " + " | ".join(f"{log} ({n})" for log, _, n in columns) + " |")
    print("|---|" + "---|" * len(columns))
    for k in names:
        print(f"| {k} | " + " | ".join(f"{c.get(k, 0):.2f}" for _, c, _ in columns) + " |")
    print("| total | " + " | ".join(f"{sum(c.values()):.2f}" for _, c, _ in columns) + " |")


def idle(tid, log):
    rows = list(requests(log, tid))
    start = next(i for i, (n, reply, line) in enumerate(rows)
                 if n == "get_message" and reply and "msg=00000113" in line)
    while rows[start][0] != "select":
        start -= 1
    wakes, spent = collections.Counter(), collections.Counter()
    total, count, cause = 0, 0, None
    for n, reply, line in rows[start:]:
        if not reply:
            total += 1
            count += 1
        if n == "select" and reply and "PENDING" in line:  # blocked: the next message woke it
            if cause:
                wakes[cause] += 1
                spent[cause] += count
            cause, count = None, 0
        if n == "get_message" and reply and cause is None and " = 0 " in line:
            g = re.search(r"win=(\w+), msg=(\w+), wparam=(\w+)", line)
            cause = g.groups()
    if cause:
        wakes[cause] += 1
        spent[cause] += count
    print(f"{log}: {total} requests from the first timer on")
    for (win, msg, wparam), n in wakes.most_common():
        print(f"{n:4d} wakes by window {win} message {msg} wparam {wparam}: "
              f"{spent[(win, msg, wparam)] / n:.1f} requests each")


if __name__ == "__main__":
    if len(sys.argv) >= 4 and sys.argv[1] == "mailboxes":
        mailboxes(sys.argv[2], sys.argv[3:])
    elif len(sys.argv) == 4 and sys.argv[1] == "idle":
        idle(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
