#!/usr/bin/env python3
"""Times vantrel-convert against the ffmpeg command line on the same
conversions of a generated 720p source, alternating the two, and prints the
median wall time, processor time (user + system) and peak memory of each
side and their ratios, and the ratio of the times their threads waited
(voluntary switches: hand-overs between threads). On a machine that other
work keeps busy the wall times say little; the processor times, the memory
and the waits much less depend on the load.

    bench/run.py [BUILD_DIR]      (default: build)
    PAIRS=5 bench/run.py          (alternating pairs per case, default 3)
    CASES=a,c bench/run.py        (only the cases whose name begins so)

Besides the ffmpeg pairs: cases a, c and e on one core (taskset -c 0), where
the engine keeps its work on the task's one thread, against the serial
engine (VANTREL_SERIAL_ENCODING=1), and case b against HandBrakeCLI when it
is installed (bench/setup.sh installs it; make test does not need it).

bench/stalls.py runs one conversion under the scheduler's trace and tells
how much core time its threads left idle, and which thread the others
waited for: a busy machine stretches the wall times, not that.
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PAIRS = int(os.environ.get("PAIRS", "3"))
CASES = [c for c in os.environ.get("CASES", "").split(",") if c]
TIME = "/usr/bin/time"


def find_tool(build_dir):
    tool = os.path.join(build_dir, "tools", "vantrel-convert")
    if not os.access(tool, os.X_OK):
        sys.exit("vantrel-convert not found in %s (build it first)" % build_dir)
    return tool


def ffmpeg(*args):
    return ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"] + list(args)


def make_source(work):
    """720p, 20 s, H.264 + AAC, and the picture of the image layer."""
    source = os.path.join(work, "source.mp4")
    subprocess.run(ffmpeg("-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25",
                          "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
                          "-t", "20", "-ac", "2", "-pix_fmt", "yuv420p",
                          "-c:v", "libx264", "-preset", "veryfast", "-c:a", "aac", source),
                   check=True)
    layer = os.path.join(work, "layer.bmp")
    subprocess.run(ffmpeg("-f", "lavfi", "-i", "testsrc=size=240x120", "-frames:v", "1",
                          "-pix_fmt", "bgr24", layer), check=True)
    return source, layer


class Measured:
    """Runs one command line under /usr/bin/time (or, without it, with the
    children's resource usage) and gives wall seconds, user + system
    seconds, peak RSS in kB and the times a thread of it waited (voluntary
    switches), which unlike the times hardly depend on the load."""

    def __init__(self, work):
        self.report = os.path.join(work, "time.txt")
        self.have_time = os.access(TIME, os.X_OK)

    def run(self, command, env=None):
        if self.have_time:
            full = [TIME, "-f", "%e %U %S %M %w", "-o", self.report] + command
            done = subprocess.run(full, env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.PIPE)
            if done.returncode != 0:
                sys.exit("failed (%d): %s\n%s" % (done.returncode, " ".join(command),
                                                  done.stderr.decode(errors="replace")[-2000:]))
            with open(self.report) as f:
                wall, user, system, rss, waits = f.read().split()[-5:]
            return float(wall), float(user) + float(system), int(rss), int(waits)
        return self.run_with_rusage(command, env)

    @staticmethod
    def run_with_rusage(command, env):
        # wait4 gives the resource usage of that one child.
        start = time.monotonic()
        child = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
        if child.returncode != 0:
            sys.exit("failed (%d): %s" % (child.returncode, " ".join(command)))
        return (time.monotonic() - start, usage.ru_utime + usage.ru_stime, usage.ru_maxrss,
                usage.ru_nvcsw)


def cases(tool, source, layer, out):
    """(name, vantrel command, baseline command, baseline label[, (our
    environment, baseline environment)])."""
    def v(*args):
        # The classic form replaces the output of the previous pair only with -y.
        return [tool] + ([] if args[0] == "--format" else ["-y"]) + list(args)
    mpeg4 = ["-vcodec", "mpeg4", "-s", "320x240", "-b", "768000",
             "-acodec", "aac", "-ab", "128000"]
    f_mpeg4 = ["-c:v", "mpeg4", "-s", "320x240", "-b:v", "768k", "-c:a", "aac", "-b:a", "128k"]
    hook = v("--invert-hook", "-i", source, *mpeg4, out("e.mp4"))
    edits = ["--brightness", "300", "--contrast", "20", "--saturation", "300",
             "--exposure", "20", "--text", "Vantrel benchmark@40,40,200",
             "--image", layer + "@600,300,180"]
    fmt_dir = out("format")
    return [
        ("a mpeg4 320x240 + aac", v("-i", source, *mpeg4, out("a.mp4")),
         ffmpeg("-i", source, *f_mpeg4, out("a_ff.mp4")), "ffmpeg"),
        ("b libx264 640x360 + aac",
         v("-i", source, "-vcodec", "libx264", "-s", "640x360", "-b", "1000000",
           "-acodec", "aac", "-ab", "128000", out("b.mp4")),
         ffmpeg("-i", source, "-c:v", "libx264", "-s", "640x360", "-b:v", "1M",
                "-c:a", "aac", "-b:a", "128k", out("b_ff.mp4")), "ffmpeg"),
        ("c mpeg2 + mp2", v("-i", source, "-vcodec", "mpeg2video", "-acodec", "mp2",
                            out("c.mpg")),
         ffmpeg("-i", source, "-c:v", "mpeg2video", "-c:a", "mp2", out("c_ff.mpg")), "ffmpeg"),
        ("d audio only mp3", v("-i", source, "-vn", "-acodec", "libmp3lame", "-ab", "128000",
                               out("d.mp3")),
         ffmpeg("-i", source, "-vn", "-c:a", "libmp3lame", "-b:a", "128k", out("d_ff.mp3")),
         "ffmpeg"),
        ("e (a) + inverting hook", hook,
         ffmpeg("-i", source, "-vf", "format=bgr24,negate,format=yuv420p,scale=320:240",
                "-c:v", "mpeg4", "-b:v", "768k", "-c:a", "aac", "-b:a", "128k", out("e_ff.mp4")),
         "ffmpeg"),
        # The same conversion with the bare inverting hook: what the drawing adds.
        ("f --format 0 effects+text+image", v("--format", "0", "--output-dir", fmt_dir, *edits,
                                              source),
         v("--format", "0", "--output-dir", fmt_dir, "--invert-hook", source),
         "--format 0 + bare hook"),
        ("f' --format 0 effects+text+image", v("--format", "0", "--output-dir", fmt_dir, *edits,
                                               source),
         v("--format", "0", "--output-dir", fmt_dir, source), "--format 0 alone"),
    ] + one_core_cases(v, source, mpeg4, hook, out) + handbrake_cases(v, source, out)


# Both sides of the one-core cases get the variable, "0" on ours, so that the
# two runs differ in nothing but its value (the environment's size moves
# where the stack starts, which alone can change a run's time a little).
SERIAL = ({"VANTREL_SERIAL_ENCODING": "0"}, {"VANTREL_SERIAL_ENCODING": "1"})


def one_core_cases(v, source, mpeg4, hook, out):
    """Cases a, c and e on one core: the staged engine against the serial one."""
    if not shutil.which("taskset"):
        return []
    one = ["taskset", "-c", "0"]
    a = v("-i", source, *mpeg4, out("a1.mp4"))
    c = v("-i", source, "-vcodec", "mpeg2video", "-acodec", "mp2", out("c1.mpg"))
    return [("%s on one core" % name, one + command, one + command, "one thread", SERIAL)
            for name, command in (("a", a), ("c", c), ("e", hook))]


def handbrake_cases(v, source, out):
    """Case b against HandBrakeCLI with the same encoders, size and rates."""
    if not shutil.which("HandBrakeCLI"):
        print("HandBrakeCLI not installed (bench/setup.sh): case b against it left out")
        return []
    ours = v("-i", source, "-vcodec", "libx264", "-s", "640x360", "-b", "1000000",
             "-acodec", "aac", "-ab", "128000", out("b.mp4"))
    theirs = ["HandBrakeCLI", "-i", source, "-o", out("b_hb.mp4"), "-f", "av_mp4",
              "-e", "x264", "-b", "1000", "-w", "640", "-l", "360", "--crop", "0:0:0:0",
              "-r", "25", "--cfr", "-E", "av_aac", "-B", "128"]
    return [("b libx264 640x360 + aac", ours, theirs, "HandBrakeCLI")]


def medians(runs):
    """The median of each measure (wall, processor time, RSS, waits) over runs."""
    return [statistics.median(values) for values in zip(*runs)]


def main():
    build_dir = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
    tool = find_tool(build_dir)
    work = tempfile.mkdtemp(prefix="vantrel-bench-")
    try:
        env = dict(os.environ, HOME=os.path.join(work, "home"),
                   XDG_CONFIG_HOME=os.path.join(work, "cfg"))
        print("making the source ...", flush=True)
        source, layer = make_source(work)
        measured = Measured(work)
        outputs = os.path.join(work, "out")
        os.makedirs(outputs)

        def out(name):
            return os.path.join(outputs, name)

        print("load average %.2f %.2f %.2f on %d cores" % (os.getloadavg() + (os.cpu_count(),)))
        print("%-34s %7s %7s %6s %7s %7s %6s %7s %7s %6s %6s  (%d pairs, median)"
              % ("case", "wall s", "base s", "ratio", "cpu s", "base s", "ratio",
                 "RSS MB", "base MB", "ratio", "waits", PAIRS))
        for name, ours, base, base_name, *base_env in cases(tool, source, layer, out):
            if CASES and name.split()[0] not in CASES:
                continue
            ours_runs, base_runs = [], []
            ours_run_env = dict(env, **base_env[0][0]) if base_env else env
            base_run_env = dict(env, **base_env[0][1]) if base_env else env
            for pair in range(PAIRS):
                order = [(ours, ours_runs, ours_run_env), (base, base_runs, base_run_env)]
                if pair % 2:
                    order.reverse()
                for command, runs, run_env in order:
                    shutil.rmtree(os.path.join(outputs, "format"), ignore_errors=True)
                    runs.append(measured.run(command, run_env))
            wall, cpu, rss, waits = medians(ours_runs)
            base_wall, base_cpu, base_rss, base_waits = medians(base_runs)
            print("%-34s %7.2f %7.2f %6.3f %7.2f %7.2f %6.3f %7.1f %7.1f %6.3f %6.2f  vs %s"
                  % (name, wall, base_wall, wall / base_wall, cpu, base_cpu, cpu / base_cpu,
                     rss / 1024.0, base_rss / 1024.0, rss / base_rss,
                     waits / max(base_waits, 1), base_name), flush=True)
        print("load average %.2f %.2f %.2f" % os.getloadavg())
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
