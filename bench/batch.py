#!/usr/bin/env python3
"""Times a batch of 8 generated files converted by vantrel-convert's format
form one at a time and two at a time, against the sum of the times of the
files converted alone, and prints the goal's figure: the two-at-a-time
batch against half that sum (the goal is at most 1.1 on a machine with more
than two cores). Median of several rounds, the three ways alternating.

    bench/batch.py [BUILD_DIR]      (default: build)
    PAIRS=3 bench/batch.py          (rounds, default 2)
    FORMAT=102 bench/batch.py       (format code, default 102: MPEG-4 + AAC)
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PAIRS = int(os.environ.get("PAIRS", "2"))
FORMAT = os.environ.get("FORMAT", "102")
FILES = 8


def find_tool(build_dir):
    tool = os.path.join(build_dir, "tools", "vantrel-convert")
    if not os.access(tool, os.X_OK):
        sys.exit("vantrel-convert not found in %s (build it first)" % build_dir)
    return tool


def make_sources(work):
    """8 files of 10 s, 640x360 MPEG-4 + MP2, each with its own picture."""
    sources = []
    for n in range(FILES):
        source = os.path.join(work, "source%d.avi" % n)
        subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
                        "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25",
                        "-f", "lavfi", "-i", "sine=frequency=%d" % (300 + 50 * n),
                        "-t", "10", "-ac", "2", "-c:v", "mpeg4", "-q:v", "4",
                        "-vf", "hue=h=%d" % (40 * n), "-c:a", "mp2", source], check=True)
        sources.append(source)
    return sources


class Runner:
    """Runs the format form in a settings folder of its own, into a fresh
    output folder each time; gives the wall seconds."""

    def __init__(self, tool, work):
        self.tool = tool
        self.work = work
        self.env = dict(os.environ, HOME=os.path.join(work, "home"),
                        XDG_CONFIG_HOME=os.path.join(work, "cfg"))
        os.makedirs(self.env["HOME"], exist_ok=True)

    def run(self, files, jobs):
        out = os.path.join(self.work, "out")
        shutil.rmtree(out, ignore_errors=True)
        command = [self.tool, "--format", FORMAT, "--jobs", str(jobs), "--output-dir", out] + files
        start = time.monotonic()
        done = subprocess.run(command, env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE)
        wall = time.monotonic() - start
        if done.returncode != 0:
            sys.exit("failed (%d): %s\n%s" % (done.returncode, " ".join(command),
                                              done.stderr.decode(errors="replace")[-2000:]))
        if len(os.listdir(out)) != len(files):
            sys.exit("expected %d outputs in %s" % (len(files), out))
        return wall


def main():
    build_dir = sys.argv[1] if len(sys.argv) > 1 else "build"
    tool = find_tool(build_dir)
    cores = os.cpu_count() or 1
    work = tempfile.mkdtemp(prefix="vantrel-batch-bench-")
    try:
        sources = make_sources(work)
        runner = Runner(tool, work)
        runner.run(sources[:1], 1)  # warms the caches and writes the settings
        sums, ones, twos = [], [], []
        for _ in range(PAIRS):
            sums.append(sum(runner.run([source], 1) for source in sources))
            ones.append(runner.run(sources, 1))
            twos.append(runner.run(sources, 2))
        alone = statistics.median(sums)
        one = statistics.median(ones)
        two = statistics.median(twos)
        print("%d files of 10 s 640x360, format %s, %d processor cores, median of %d"
              % (FILES, FORMAT, cores, PAIRS))
        print("  sum of the files converted alone  %7.2f s" % alone)
        print("  one batch, 1 at a time            %7.2f s" % one)
        print("  one batch, 2 at a time            %7.2f s" % two)
        print("  2 at a time / (sum / 2)           %7.2f   (goal <= 1.10 with more than 2 cores)"
              % (two / (alone / 2)))
        print("  2 at a time / 1 at a time         %7.2f" % (two / one))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
