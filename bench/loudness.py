#!/usr/bin/env python3
"""Times the passes of loudness targets and target sizes with vantrel-convert
on a generated 20 s 1280x720 H.264 + AAC file:

  1. the loudness measuring pass alone (audio decoded only) against the
     file's conversion without a target (goal: at most 0.15);
  2. the conversion with a target size (two passes) against the same
     conversion in one pass.

Medians of alternating rounds; the figures are ratios measured in one run.

    bench/loudness.py [BUILD_DIR]     (default: build)
    ROUNDS=3 bench/loudness.py        (default 2)
    FORMAT=103 bench/loudness.py      (default 103: H.264 + AAC)
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time

ROUNDS = int(os.environ.get("ROUNDS", "2"))
FORMAT = os.environ.get("FORMAT", "103")


def run(args, env):
    start = time.monotonic()
    subprocess.run(args, env=env, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return time.monotonic() - start


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    tool = os.path.join(build, "tools", "vantrel-convert")
    if not os.access(tool, os.X_OK):
        sys.exit("vantrel-convert not found in %s (build it first)" % build)
    with tempfile.TemporaryDirectory() as work:
        env = dict(os.environ, HOME=os.path.join(work, "home"),
                   XDG_CONFIG_HOME=os.path.join(work, "cfg"))
        source = os.path.join(work, "clip.mp4")
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                        "testsrc2=size=1280x720:rate=25:d=20", "-f", "lavfi", "-i",
                        "anoisesrc=d=20:c=pink:a=0.1", "-c:v", "libx264", "-preset",
                        "veryfast", "-c:a", "aac", "-shortest", source], check=True)
        out = os.path.join(work, "out")
        readings = os.path.join(work, "readings.txt")
        measure = [tool, "-i", source, "-vn", "-af",
                   "ebur128=metadata=1,ametadata=mode=print:key=lavfi.r128.I:file=" + readings,
                   "-acodec", "pcm_s16le", "-f", "null", "-y", os.path.join(work, "m.null")]
        convert = [tool, "--format", FORMAT, "--output-dir", out, source]
        sized = convert[:3] + ["--target-size", "8"] + convert[3:]
        times = {"measure": [], "convert": [], "sized": []}
        for _ in range(ROUNDS):
            for name, args in (("measure", measure), ("convert", convert), ("sized", sized)):
                subprocess.run(["rm", "-rf", out])
                times[name].append(run(args, env))
        m = {k: statistics.median(v) for k, v in times.items()}
        print("measuring pass     %.2f s" % m["measure"])
        print("conversion         %.2f s" % m["convert"])
        print("two-pass (8 MB)    %.2f s" % m["sized"])
        print("measuring / conversion: %.3f (goal <= 0.15)" % (m["measure"] / m["convert"]))
        print("two-pass / one-pass:    %.2f" % (m["sized"] / m["convert"]))


if __name__ == "__main__":
    main()
