#!/usr/bin/env python3
"""What tone mapping costs: converts a 20 s 1080p HLG clip and its SDR twin
(the same pictures, HEVC 10-bit, tagged BT.709) into the H.264 format (103)
at the source's size, the way the window does (vantrel-convert --format),
alternating the two, and prints the median wall time of each and their ratio.
The aim is a ratio of at most 1.3.

    bench/hdr.py [BUILD_DIR]      (default: build)
    PAIRS=5 bench/hdr.py          (alternating pairs, default 3)
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PAIRS = int(os.environ.get("PAIRS", "3"))
SECONDS = os.environ.get("SECONDS_LONG", "20")
FORMAT = "103"


def ffmpeg(*args):
    return ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y"] + list(args)


def make_twins(work):
    """The SDR clip and its HLG twin (the SDR range at the HDR reference
    white, 203 cd/m2), both HEVC 10-bit 4:2:0."""
    sdr = os.path.join(work, "sdr.mp4")
    hlg = os.path.join(work, "hlg.mp4")
    source = ["-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25", "-t", SECONDS]
    x265 = ["-c:v", "libx265", "-preset", "ultrafast", "-x265-params", "log-level=error"]
    subprocess.run(ffmpeg(*source, "-vf", "scale=out_color_matrix=bt709,format=yuv420p10le",
                          "-color_primaries", "bt709", "-color_trc", "bt709",
                          "-colorspace", "bt709", *x265, sdr), check=True)
    subprocess.run(ffmpeg(*source, "-vf",
                          "zscale=tin=709:pin=709:min=709:rin=tv:p=2020:m=2020_ncl:r=tv:"
                          "npl=203:t=arib-std-b67,format=yuv420p10le",
                          "-color_primaries", "bt2020", "-color_trc", "arib-std-b67",
                          "-colorspace", "bt2020nc", *x265, hlg), check=True)
    return sdr, hlg


def settings_home(work, tool):
    """A settings folder whose H.264 format keeps the source's size."""
    env = dict(os.environ, HOME=os.path.join(work, "home"),
               XDG_CONFIG_HOME=os.path.join(work, "cfg"))
    subprocess.run([tool, "--format", FORMAT, "--print-options", "/nonexistent"], env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ini = os.path.join(work, "cfg", "vantrel", "vantrel.ini")
    with open(ini, encoding="utf-8") as f:
        lines = f.read().split("\n")
    section = None
    for i, line in enumerate(lines):
        if line.startswith("["):
            section = line
        elif section == "[formatInfo%s]" % FORMAT and line.startswith("paraVideoSize="):
            lines[i] = "paraVideoSize=as source"
    with open(ini, "w", encoding="utf-8") as f:
        f.write("\n".join(lines))
    return env


def convert(tool, env, source, folder):
    os.makedirs(folder, exist_ok=True)
    start = time.monotonic()
    done = subprocess.run([tool, "--format", FORMAT, "--output-dir", folder, source], env=env,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    seconds = time.monotonic() - start
    if done.returncode != 0:
        sys.exit("conversion of %s failed:\n%s" % (source, done.stderr))
    for name in os.listdir(folder):
        os.remove(os.path.join(folder, name))
    return seconds


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build")
    tool = os.path.join(build, "tools", "vantrel-convert")
    if not os.access(tool, os.X_OK):
        sys.exit("vantrel-convert not found in %s (build it first)" % build)
    with tempfile.TemporaryDirectory(prefix="vantrel-hdr-bench-") as work:
        sdr, hlg = make_twins(work)
        env = settings_home(work, tool)
        times = {"sdr": [], "hlg": []}
        for _ in range(PAIRS):
            times["sdr"].append(convert(tool, env, sdr, os.path.join(work, "out")))
            times["hlg"].append(convert(tool, env, hlg, os.path.join(work, "out")))
        sdr_median = statistics.median(times["sdr"])
        hlg_median = statistics.median(times["hlg"])
        print("SDR 1080p %s s into format %s: %.2f s (median of %d)"
              % (SECONDS, FORMAT, sdr_median, PAIRS))
        print("HLG 1080p %s s into format %s: %.2f s (median of %d)"
              % (SECONDS, FORMAT, hlg_median, PAIRS))
        print("HLG / SDR: %.2f (aim: at most 1.30)" % (hlg_median / sdr_median))


if __name__ == "__main__":
    main()
