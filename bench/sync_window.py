#!/usr/bin/env python3
"""How much of a take a power cut would cost, measured while the take grows.

Usage: sync_window.py TAKE RATE RESULT

Runs until SIGTERM. Meanwhile it samples TAKE's size every few milliseconds
and records, through a tracefs instance of its own, when the threads of the
process holding it open enter and leave fdatasync and fsync. After a sync returns, what the take
held when the sync began is on the disk, its length included. A power cut
at time t therefore keeps the samples the take held when the last sync
finished before t had begun, and loses everything captured after them.

Audio reaches the take a little after it was captured. The capture clock is
fitted to the sizes seen: sample n was captured at start + n / RATE, with
the latest start the take's sizes allow (the take never holds a sample
before it was captured). That misses at most a period or two of buffering,
so the figure is, if anything, a little low by that much.

It writes one line to RESULT: the worst loss over the take in ms, the sync
rounds seen, and their median and longest duration in ms. A round is every
sync of one pass over the takes, a gap of 100 ms or more apart from the next.
"""
import os
import re
import signal
import subprocess
import sys
import time

TRACING = "/sys/kernel/tracing"
INSTANCE = os.path.join(TRACING, "instances", "sondrel-sync-window")
EVENTS = ["syscalls/sys_enter_fdatasync", "syscalls/sys_exit_fdatasync",
          "syscalls/sys_enter_fsync", "syscalls/sys_exit_fsync"]


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def start_tracing():
    if not os.path.isdir(os.path.join(TRACING, "instances")):
        # A machine that has not mounted tracefs yet; root may mount it.
        subprocess.run(["mount", "-t", "tracefs", "nodev", TRACING],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    if os.path.isdir(INSTANCE):
        os.rmdir(INSTANCE)
    os.mkdir(INSTANCE)
    write(os.path.join(INSTANCE, "trace_clock"), "mono")  # time.monotonic's clock
    write(os.path.join(INSTANCE, "buffer_size_kb"), "8192")
    write(os.path.join(INSTANCE, "options", "record-tgid"), "1")
    for event in EVENTS:
        write(os.path.join(INSTANCE, "events", event, "enable"), "1")
    write(os.path.join(INSTANCE, "tracing_on"), "1")


EVENT_LINE = re.compile(r"^\s*\S+-(\d+)\s+\(\s*(\d+)\)\s+\[\d+\]\s+\S+\s+([\d.]+): sys_\w+(.*)$")


def read_syncs(program):
    """(enter, leave) times of every sync the program's threads made."""
    write(os.path.join(INSTANCE, "tracing_on"), "0")
    with open(os.path.join(INSTANCE, "trace")) as f:
        lines = f.readlines()
    os.rmdir(INSTANCE)
    open_calls, syncs = {}, []
    for line in lines:
        event = EVENT_LINE.match(line)
        if not event or int(event.group(2)) != program:
            continue
        thread, at = event.group(1), float(event.group(3))
        if "->" in event.group(4):
            if thread in open_calls:
                syncs.append((open_calls.pop(thread), at))
        else:
            open_calls[thread] = at
    return sorted(syncs)


def holder_of(path):
    """The process that has `path` open, or None."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            fds = os.listdir(f"/proc/{pid}/fd")
            if any(os.readlink(f"/proc/{pid}/fd/{fd}") == path for fd in fds):
                return int(pid)
        except OSError:
            continue
    return None


def rounds_of(syncs):
    rounds = []
    for enter, leave in syncs:
        if rounds and enter - rounds[-1][1] < 0.1:
            rounds[-1][1] = max(rounds[-1][1], leave)
        else:
            rounds.append([enter, leave])
    return rounds


def size_at(samples, t):
    """The take's size at the last sample taken at or before t."""
    size = 0
    for at, bytes_ in samples:
        if at > t:
            break
        size = bytes_
    return size


def worst_loss_ms(samples, rounds, rate):
    # The first size seen is the header alone; three bytes a sample after it.
    header = samples[0][1]
    samples = [(at, size - header) for at, size in samples]
    grown = [(at, size) for at, size in samples if size > 0]
    if not grown:
        return None
    start = min(at - size / 3 / rate for at, size in grown)
    final = max(size for _, size in samples)
    captured = lambda t: min(max(0.0, (t - start) * rate), final / 3)
    durable, worst = 0.0, 0.0
    for enter, leave in rounds:
        if leave > start:  # just before this round returns, only the last one's holds
            worst = max(worst, captured(leave) - durable)
        durable = max(durable, size_at(samples, enter) / 3)
    worst = max(worst, captured(samples[-1][0]) - durable)
    return 1000 * worst / rate


def main():
    take, rate, result = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(1))
    try:
        start_tracing()
    except OSError as error:
        write(result, f"not measured: no tracefs instance ({error.strerror}; run as root)\n")
        return
    samples, program = [], None
    while not stopping:
        try:
            samples.append((time.monotonic(), os.stat(take).st_size))
            program = program or holder_of(os.path.realpath(take))
        except FileNotFoundError:
            pass
        time.sleep(0.005)
    rounds = rounds_of(read_syncs(program))
    loss = worst_loss_ms(samples, rounds, rate) if samples and program else None
    if loss is None:
        write(result, "not measured: the take never grew\n")
        return
    lengths = sorted(1000 * (leave - enter) for enter, leave in rounds)
    median = lengths[len(lengths) // 2] if lengths else 0.0
    longest = lengths[-1] if lengths else 0.0
    write(result, f"{loss:.0f} ms lost at worst; {len(rounds)} sync rounds, "
                  f"median {median:.1f} ms, longest {longest:.1f} ms\n")


if __name__ == "__main__":
    main()
