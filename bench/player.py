#!/usr/bin/env python3
"""Plays generated 20 s H.264 + AAC files (720p30 and 1080p30, a key frame
every 2 s) to the end with vantrel-play-bench (pictures converted to a
640x360 panel, SDL's dummy audio driver) and with ffplay (SDL's dummy video
and audio drivers, the same window size), and prints CPU seconds per second
of playback, pictures shown and dropped, the largest distance between a
shown picture and the audio clock, and the time of a seek with wait; for
ffplay its CPU and the pictures it dropped (its own statistics). Dropped
pictures of ours count those skipped after decoding as well.

    bench/player.py [BUILD_DIR]      (default: build)
    PAIRS=2 bench/player.py          (runs per file and side, default 1)
"""

import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PAIRS = int(os.environ.get("PAIRS", "1"))
SIZES = ["1280x720", "1920x1080"]


def ffmpeg(*args):
    return ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"] + list(args)


def make_source(work, size):
    path = os.path.join(work, size + ".mp4")
    subprocess.run(ffmpeg("-f", "lavfi", "-i", "testsrc2=size=%s:rate=30" % size,
                          "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
                          "-t", "20", "-ac", "2", "-pix_fmt", "yuv420p", "-c:v", "libx264",
                          "-preset", "veryfast", "-g", "60", "-c:a", "aac", path), check=True)
    return path


def run_ours(tool, path):
    env = dict(os.environ, SDL_AUDIODRIVER="dummy")
    out = subprocess.run([tool, path, "640", "360", "11.3"], env=env, check=True,
                         capture_output=True, text=True).stdout
    return dict((k, float(v)) for k, v in re.findall(r"(\w+)=([-\d.]+)", out))


def run_ffplay(path):
    env = dict(os.environ, SDL_AUDIODRIVER="dummy", SDL_VIDEODRIVER="dummy")
    before = os.times()
    stats = subprocess.run(["ffplay", "-hide_banner", "-loglevel", "error", "-stats",
                            "-autoexit", "-x", "640", "-y", "360", path], env=env,
                           stdin=subprocess.DEVNULL, check=True, capture_output=True,
                           text=True).stderr
    after = os.times()
    cpu = (after.children_user - before.children_user) + \
          (after.children_system - before.children_system)
    drops = re.findall(r"fd=\s*(\d+)", stats)
    return cpu / 20.0, int(drops[-1]) if drops else -1


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
    tool = os.path.join(build, "bench", "vantrel-play-bench")
    if not os.access(tool, os.X_OK):
        sys.exit("vantrel-play-bench not found in %s/bench (build it first)" % build)
    have_ffplay = shutil.which("ffplay") is not None
    print("load average %.2f %.2f %.2f" % os.getloadavg())
    work = tempfile.mkdtemp(prefix="vantrel-play-bench-")
    try:
        for size in SIZES:
            path = make_source(work, size)
            ours, theirs = [], []
            for _ in range(PAIRS):
                ours.append(run_ours(tool, path))
                if have_ffplay:
                    theirs.append(run_ffplay(path))
            cpu = statistics.median(r["cpu_per_second"] for r in ours)
            print("%-9s vantrel: cpu/s %.3f  shown %d  dropped %d  max |pts-audio| %.1f ms "
                  "(%d over a frame)  seek %d ms (shown after %d ms)"
                  % (size, cpu, statistics.median(r["shown"] for r in ours),
                     max(r["dropped"] for r in ours), max(r["max_av_ms"] for r in ours),
                     max(r["beyond_frame"] for r in ours), max(r["seek_ms"] for r in ours),
                     max(r["seek_shown_ms"] for r in ours)))
            if theirs:
                ref = statistics.median(t[0] for t in theirs)
                print("%-9s ffplay:  cpu/s %.3f  dropped %d  ratio vantrel/ffplay %.2f"
                      % (size, ref, max(t[1] for t in theirs), cpu / ref))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
