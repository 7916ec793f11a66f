#!/usr/bin/env python3
"""Feeds mutated media files to the programs as a user would.

Each case is a seed file (made with ffmpeg at the start) with a few random
changes: flipped bits, overwritten or repeated bytes, a cut end. It goes
through `vantrel-convert --info`, the classic form, the format form and
`vantrel-play --snapshot`. A run that ends by a signal (a crash), that takes
longer than the time limit (a hang) or that writes an output more than
ROOM seconds longer than its seed is a finding; its file is kept in
WORK/findings with a line in WORK/findings.txt.

    fuzz-files.py BUILD_DIR COUNT [--work DIR] [--jobs N] [--seed N]
                  [--modes info,classic,format,snapshot] [--limit SECONDS]

Not part of `make test`: it runs for as long as COUNT asks.
"""
import argparse
import concurrent.futures
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

ROOM = 2.0  # seconds an output may run past its seed

SEEDS = {
    "mp4": "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=sample_rate=44100 "
           "-t 2 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -movflags +faststart",
    "avi": "-f lavfi -i testsrc2=size=176x144:rate=25 -f lavfi -i sine=sample_rate=22050 "
           "-t 2 -c:v mpeg4 -c:a mp2",
    "flv": "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=sample_rate=44100 "
           "-t 2 -c:v flv1 -c:a adpcm_swf",
    "mkv": "-f lavfi -i testsrc2=size=120x90:rate=15 -f lavfi -i sine=sample_rate=48000 "
           "-t 2 -c:v mpeg4 -c:a libvorbis",
    "ts": "-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=sample_rate=48000 "
          "-t 2 -c:v mpeg2video -c:a mp2",
    "wav": "-f lavfi -i sine=sample_rate=8000 -t 2 -c:a pcm_s16le",
    "mp3": "-f lavfi -i sine=sample_rate=44100 -t 2 -c:a libmp3lame",
}


def duration(path):
    try:
        out = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration",
                              "-of", "csv=p=0", path], capture_output=True, text=True,
                             timeout=60).stdout.strip()
        return float(out)
    except (ValueError, subprocess.TimeoutExpired):
        return -1.0


def make_seeds(folder):
    seeds = {}
    for ext, args in SEEDS.items():
        path = os.path.join(folder, "seed." + ext)
        command = "ffmpeg -nostdin -v error -y " + args + " " + path
        if subprocess.run(command, shell=True).returncode == 0:
            seeds[path] = duration(path)
    return seeds


def mutate(data, rng):
    data = bytearray(data)
    for _ in range(rng.randint(1, 8)):
        kind = rng.random()
        if not data:
            break
        at = rng.randrange(len(data))
        if kind < 0.5:
            data[at] ^= 1 << rng.randrange(8)
        elif kind < 0.75:
            for i in range(at, min(len(data), at + rng.randint(1, 8))):
                data[i] = rng.choice((0, 0xFF, rng.randrange(256)))
        elif kind < 0.9:
            size = rng.randint(1, 64)
            data[at:at] = data[at:at + size]
        else:
            del data[max(16, at):]
    return bytes(data)


class Runner:
    def __init__(self, build, work, limit):
        self.convert = os.path.join(build, "tools", "vantrel-convert")
        self.play = os.path.join(build, "tools", "vantrel-play")
        self.work = work
        self.limit = limit
        self.lock = threading.Lock()
        self.counts = {"runs": 0, "crash": 0, "hang": 0, "long": 0, "files": 0}
        os.makedirs(os.path.join(work, "findings"), exist_ok=True)

    def run(self, args, folder):
        env = dict(os.environ, HOME=os.path.join(folder, "home"),
                   XDG_CONFIG_HOME=os.path.join(folder, "cfg"), QT_QPA_PLATFORM="offscreen",
                   SDL_AUDIODRIVER="dummy", TMPDIR=folder)
        started = time.monotonic()
        process = subprocess.Popen(args, cwd=folder, env=env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   start_new_session=True)
        try:
            output, _ = process.communicate(timeout=self.limit)
            return process.returncode, output, time.monotonic() - started
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            output, _ = process.communicate()
            return None, output, time.monotonic() - started

    def case(self, index, source, seed_length, modes):
        folder = tempfile.mkdtemp(prefix="case-", dir=self.work)
        try:
            for mode in modes:
                self.one(index, mode, source, seed_length, folder)
        finally:
            shutil.rmtree(folder, ignore_errors=True)
        with self.lock:
            self.counts["files"] += 1

    def one(self, index, mode, source, seed_length, folder):
        out_dir = os.path.join(folder, "out-" + mode)
        os.makedirs(out_dir, exist_ok=True)
        if mode == "info":
            args = [self.convert, "--info", source]
        elif mode == "classic":
            args = [self.convert, "-y", "-i", source, os.path.join(out_dir, "out.avi")]
        elif mode == "format":
            args = [self.convert, "--format", "104", "--output-dir", out_dir, source]
        else:
            args = [self.play, "--snapshot", os.path.join(out_dir, "still.bmp"), "--seek", "0.5",
                    source]
        code, output, seconds = self.run(args, folder)
        finding = None
        if code is None:
            finding = "hang"
        elif code < 0 or code >= 128:
            finding = "crash"
        else:
            for name in os.listdir(out_dir):
                if name.endswith(".bmp") or name.startswith("."):
                    continue
                length = duration(os.path.join(out_dir, name))
                if seed_length > 0 and length > seed_length + ROOM:
                    finding = "long"
                    output += ("\noutput %s lasts %.2f s, the seed %.2f s"
                               % (name, length, seed_length)).encode()
        with self.lock:
            self.counts["runs"] += 1
            if not finding:
                return
            self.counts[finding] += 1
            kept = os.path.join(self.work, "findings", "%05d-%s%s"
                                % (index, mode, os.path.splitext(source)[1]))
            shutil.copyfile(source, kept)
            with open(os.path.join(self.work, "findings.txt"), "a") as log:
                log.write("%s %s code=%s %.1fs %s\n%s\n" % (
                    finding, kept, code, seconds, " ".join(args),
                    output.decode(errors="replace")[-2000:]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("count", type=int)
    parser.add_argument("--work", default=None)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--modes", default="info,classic,format,snapshot")
    parser.add_argument("--limit", type=float, default=60.0)
    options = parser.parse_args()
    work = options.work or tempfile.mkdtemp(prefix="vantrel-fuzz-")
    os.makedirs(work, exist_ok=True)
    seeds = make_seeds(work)
    if not seeds:
        sys.exit("no seed file could be made")
    runner = Runner(os.path.abspath(options.build), work, options.limit)
    rng = random.Random(options.seed)
    modes = options.modes.split(",")
    cases = os.path.join(work, "cases")
    os.makedirs(cases, exist_ok=True)
    with concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
        futures = []
        for index in range(options.count):
            seed = rng.choice(sorted(seeds))
            with open(seed, "rb") as f:
                data = mutate(f.read(), rng)
            source = os.path.join(cases, "%05d%s" % (index, os.path.splitext(seed)[1]))
            with open(source, "wb") as f:
                f.write(data)
            futures.append(pool.submit(runner.case, index, source, seeds[seed], modes))
            # Cases are made as they are run, not all at once.
            while sum(not f.done() for f in futures) > options.jobs * 2:
                time.sleep(0.05)
            futures = [f for f in futures if not f.done() or f.exception()]
        for future in futures:
            future.result()
    print("files=%(files)d runs=%(runs)d crash=%(crash)d hang=%(hang)d long=%(long)d" %
          runner.counts)
    print("work folder:", work)
    return 1 if runner.counts["crash"] or runner.counts["hang"] or runner.counts["long"] else 0


if __name__ == "__main__":
    sys.exit(main())
