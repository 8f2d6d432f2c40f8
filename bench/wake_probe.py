#!/usr/bin/env python3
"""How late the machine wakes a real-time thread, beside a benchmark run.

Usage: wake_probe.py RESULT

Runs until SIGTERM. On every processor a probe at SCHED_FIFO priority 10
(below Sondrel's loop, so it never delays it) sleeps 1 ms at a time and notes
how late each wake-up comes. A probe held up for longer than a run's buffer
shows that the machine itself stalled at that moment, with any xrun of the
run then: a real-time thread of another program waited just as long.

It writes one line to RESULT: the wake-ups, how many came 4 ms late or more
(counted once per stall, however many wake-ups it swallowed), and the worst.
Without the right to real-time scheduling (root, or RLIMIT_RTPRIO) it says so.
"""
import os
import signal
import sys
import time

PRIORITY = 10
LATE_S = 0.004


def probe(cpu, stopping):
    """Wake every millisecond on one processor; (wake-ups, stalls, worst s)."""
    os.sched_setaffinity(0, {cpu})
    os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(PRIORITY))
    wakeups, stalls, worst = 0, 0, 0.0
    due = time.monotonic()
    while not stopping:
        due += 0.001
        wait = due - time.monotonic()
        if wait > 0:
            time.sleep(wait)
        late = time.monotonic() - due
        wakeups += 1
        worst = max(worst, late)
        if late >= LATE_S:
            stalls += 1
            due = time.monotonic()  # one stall, not one for each millisecond it swallowed
    return wakeups, stalls, worst


def main():
    result = sys.argv[1]
    children = []
    for cpu in sorted(os.sched_getaffinity(0)):
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.close(read_end)
            stopping = []
            signal.signal(signal.SIGTERM, lambda *_: stopping.append(1))
            signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGTERM})
            try:
                counts = probe(cpu, stopping)
                os.write(write_end, ("%d %d %.6f" % counts).encode())
            except PermissionError:
                os.write(write_end, b"denied")
            os._exit(0)
        os.close(write_end)
        children.append((pid, read_end))
    signal.sigwait({signal.SIGTERM})
    reports = []
    for pid, read_end in children:
        os.kill(pid, signal.SIGTERM)
        os.waitpid(pid, 0)
        reports.append(os.read(read_end, 100).decode())
        os.close(read_end)
    if "denied" in reports or "" in reports:
        text = "probe not run: no real-time scheduling allowed"
    else:
        counts = [report.split() for report in reports]
        wakeups = sum(int(c[0]) for c in counts)
        stalls = sum(int(c[1]) for c in counts)
        worst = max(float(c[2]) for c in counts)
        text = (f"a real-time probe on each of {len(counts)} processors woke {stalls} times "
                f"4 ms late or more in {wakeups} wake-ups, at worst {1000 * worst:.1f} ms")
    with open(result, "w") as f:
        f.write(text + "\n")


if __name__ == "__main__":
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM})
    main()
