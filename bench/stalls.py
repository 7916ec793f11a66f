#!/usr/bin/env python3
"""Where a conversion leaves cores idle: runs one command under
`perf sched record` (perf and the rights to trace the scheduler needed) and
follows the scheduler's switches and wake-ups of the command's threads.

    bench/stalls.py vantrel-convert -y -i in.mp4 ... out.mp4

It prints, for the span from the first to the last switch of the command,
how long 0, 1, 2 and 3 or more of its threads were running or ready to run
(on two cores, each moment with fewer than two lost core time), the core
time lost so, and per thread its time on a core and the time it was the
only one that could run: the thread the others waited for. On a busy
machine the times stretch, but the lost core time still tells whether the
threads kept two cores fed.

Threads are told apart by their ids (they have no names of their own); a
perf report sorted by pid shows which code each one ran.
"""

import collections
import os
import re
import subprocess
import sys
import tempfile

HEAD = re.compile(r"^\s*(.*?)\s+(\d+)/(\d+)\s+(\d+\.\d+):\s+(\S+):")
SWITCH = re.compile(r"prev_pid=(\d+) prev_prio=\d+ prev_state=(\S+) ==> next_comm=.*? next_pid=(\d+)")
WAKE = re.compile(r"comm=.*? pid=(\d+)")


def record(command, data):
    subprocess.run(["perf", "sched", "record", "-o", data, "--"] + command,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    script = subprocess.run(["perf", "script", "-i", data, "-F", "comm,pid,tid,time,event,trace"],
                            capture_output=True, text=True, check=True)
    return script.stdout.splitlines()


def events_of(lines, name):
    """The events, and the process id of the command (the one whose threads
    named `name` ran most)."""
    events, process, seen = [], {}, collections.Counter()
    for line in lines:
        head = HEAD.match(line)
        if not head:
            continue
        comm, pid, tid, time, event = head.groups()
        process[int(tid)] = int(pid)
        if comm == name[:15]:
            seen[int(pid)] += 1
        events.append((float(time), event, line))
    return events, process, seen.most_common(1)[0][0]


class Demand:
    """The command's threads' states between events: running, ready or
    waiting, and the time spent at each count of running and ready ones."""

    def __init__(self):
        self.state = {}
        self.last = None
        self.by_count = collections.Counter()
        self.on_core = collections.Counter()
        self.alone = collections.Counter()

    def advance(self, time):
        if self.last is not None and time > self.last:
            span = time - self.last
            wanting = [tid for tid, s in self.state.items() if s != "waiting"]
            self.by_count[min(len(wanting), 3)] += span
            for tid, s in self.state.items():
                if s == "running":
                    self.on_core[tid] += span
            if len(wanting) == 1:
                self.alone[wanting[0]] += span
        self.last = time


def follow(events, process, pid):
    ours = lambda tid: process.get(tid) == pid
    demand = Demand()
    for time, event, line in events:
        if event.endswith("sched_switch"):
            prev, prev_state, following = SWITCH.search(line).groups()
            prev, following = int(prev), int(following)
            if demand.last is None and not ours(following):
                continue
            demand.advance(time)
            if ours(prev):
                demand.state[prev] = "ready" if prev_state.startswith("R") else "waiting"
            if ours(following):
                demand.state[following] = "running"
        elif "sched_wak" in event and demand.last is not None:
            tid = int(WAKE.search(line.split(":", 3)[-1]).group(1))
            demand.advance(time)
            if ours(tid) and demand.state.get(tid) != "running":
                demand.state[tid] = "ready"
        elif event.endswith("sched_process_exit") and demand.last is not None:
            tid = int(HEAD.match(line).group(3))
            if ours(tid):
                demand.advance(time)
                demand.state[tid] = "waiting"
    return demand


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    command = sys.argv[1:]
    with tempfile.TemporaryDirectory(prefix="vantrel-stalls-") as work:
        events, process, pid = events_of(record(command, os.path.join(work, "sched.data")),
                                         os.path.basename(command[0]))
    demand = follow(events, process, pid)
    span = sum(demand.by_count.values())
    lost = 2 * demand.by_count[0] + demand.by_count[1]
    print("span %.2f s; running or ready: %s" % (span, ", ".join(
        "%d%s: %.2f s" % (k, "+" if k == 3 else "", v) for k, v in sorted(demand.by_count.items()))))
    print("core time lost on two cores: %.2f s (on a core: %.2f s)"
          % (lost, sum(demand.on_core.values())))
    print("%8s %8s %8s" % ("thread", "core s", "alone s"))
    for tid, used in demand.on_core.most_common():
        if used >= 0.01 or demand.alone[tid] >= 0.01:
            print("%8d %8.2f %8.2f" % (tid, used, demand.alone[tid]))


if __name__ == "__main__":
    main()
