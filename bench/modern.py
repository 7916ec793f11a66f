#!/usr/bin/env python3
"""The modern video formats (300 HEVC, 301 AV1, 302 VP9) on the benchmark's
720p source: vantrel-convert --format against the ffmpeg command line with
the same encoder settings (wall and memory, alternating pairs, medians), and
against HandBrakeCLI with the same encoder, speed preset and quality,
reporting wall time, file size and SSIM side by side.

    bench/modern.py [BUILD_DIR]      (default: build)
    PAIRS=5 bench/modern.py          (alternating pairs per case, default 3)
    LENGTH=10 bench/modern.py        (source length in seconds, default 20)

HandBrakeCLI comes from Debian's handbrake-cli package; this script installs
it (apt-get, as root or through sudo) when it is missing, never the tests.
"""

import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run  # noqa: E402  (the shared source, measuring and tool lookup)

SECONDS = int(os.environ.get("LENGTH", "20"))

# The settings of the formats' defaults ("Quality: high", fast speed), as
# the option builder passes them to the encoders.
FORMATS = [
    {"code": "300", "ext": "mp4", "name": "300 HEVC ultrafast crf 24",
     "ffmpeg": ["-c:v", "libx265", "-preset", "ultrafast", "-crf", "24", "-tag:v", "hvc1",
                "-c:a", "aac", "-b:a", "160k"],
     "handbrake": ["-e", "x265", "--encoder-preset", "ultrafast", "-q", "24",
                   "-E", "av_aac", "-B", "160"]},
    {"code": "301", "ext": "mp4", "name": "301 AV1 preset 10 crf 30",
     "ffmpeg": ["-c:v", "libsvtav1", "-preset", "10", "-crf", "30",
                "-c:a", "aac", "-b:a", "160k"],
     "handbrake": ["-e", "svt_av1", "--encoder-preset", "10", "-q", "30",
                   "-E", "av_aac", "-B", "160"]},
    {"code": "302", "ext": "webm", "name": "302 VP9 realtime 6 crf 31",
     "ffmpeg": ["-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "6", "-row-mt", "1",
                "-crf", "31", "-b:v", "0", "-c:a", "libopus", "-b:a", "128k"],
     # HandBrake's VP9 presets are its own names for libvpx's speeds.
     "handbrake": ["-e", "VP9", "--encoder-preset", "veryfast", "-q", "31",
                   "-E", "opus", "-B", "128", "-f", "av_webm"]},
]


def ensure_handbrake():
    if shutil.which("HandBrakeCLI"):
        return True
    print("installing handbrake-cli for the comparison ...", flush=True)
    prefix = [] if os.geteuid() == 0 else ["sudo", "-n"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    done = subprocess.run(prefix + ["apt-get", "install", "-y", "--no-install-recommends",
                                    "handbrake-cli"], env=env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)
    if done.returncode != 0 or not shutil.which("HandBrakeCLI"):
        print("HandBrakeCLI unavailable: %s" % done.stderr.decode(errors="replace")[-300:])
        return False
    return True


def ssim(output, source):
    done = subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-i", output, "-i", source,
                           "-lavfi", "[0:v][1:v]ssim", "-f", "null", "-"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    found = re.findall(r"All:([0-9.]+)", done.stderr.decode(errors="replace"))
    return float(found[-1]) if found else float("nan")


def median_pairs(measured, ours, base, env, clear):
    walls, rsss, base_walls, base_rsss = [], [], [], []
    for pair in range(run.PAIRS):
        order = [(ours, walls, rsss), (base, base_walls, base_rsss)]
        if pair % 2:
            order.reverse()
        for command, w, r in order:
            clear()
            wall, rss = measured.run(command, env)
            w.append(wall)
            r.append(rss)
    return (statistics.median(walls), statistics.median(base_walls),
            statistics.median(rsss), statistics.median(base_rsss))


def main():
    build_dir = os.path.abspath(sys.argv[1] if len(sys.argv) > 1
                                else os.path.join(run.ROOT, "build"))
    tool = run.find_tool(build_dir)
    have_handbrake = ensure_handbrake()
    work = tempfile.mkdtemp(prefix="vantrel-modern-bench-")
    try:
        env = dict(os.environ, HOME=os.path.join(work, "home"),
                   XDG_CONFIG_HOME=os.path.join(work, "cfg"))
        print("making the source (%d s of 720p) ..." % SECONDS, flush=True)
        source = os.path.join(work, "source.mp4")
        subprocess.run(run.ffmpeg("-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=25",
                                  "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000",
                                  "-t", str(SECONDS), "-ac", "2", "-pix_fmt", "yuv420p",
                                  "-c:v", "libx264", "-preset", "veryfast", "-c:a", "aac",
                                  source), check=True)
        measured = run.Measured(work)
        folder = os.path.join(work, "format")
        ours_file = lambda f: os.path.join(folder, "source_(new)." + f["ext"])  # noqa: E731

        def clear():
            shutil.rmtree(folder, ignore_errors=True)

        print("%-28s %8s %8s %6s %8s %8s %6s %8s  (%d pairs, median; vs ffmpeg)"
              % ("case", "wall s", "ffm s", "ratio", "RSS MB", "ffm MB", "ratio", "x realtime",
                 run.PAIRS))
        rows = []
        for f in FORMATS:
            ours = [tool, "--format", f["code"], "--output-dir", folder, source]
            base_out = os.path.join(work, "ff." + f["ext"])
            base = run.ffmpeg("-i", source, *f["ffmpeg"], base_out)
            wall, base_wall, rss, base_rss = median_pairs(measured, ours, base, env, clear)
            print("%-28s %8.2f %8.2f %6.3f %8.1f %8.1f %6.3f %8.2f"
                  % (f["name"], wall, base_wall, wall / base_wall, rss / 1024.0,
                     base_rss / 1024.0, rss / base_rss, SECONDS / wall), flush=True)
            clear()
            measured.run(ours, env)
            kept = os.path.join(work, "ours" + f["code"] + "." + f["ext"])
            shutil.copy(ours_file(f), kept)
            rows.append((f, kept, wall))
        if not have_handbrake:
            return
        print("\n%-28s %8s %8s %9s %9s %7s %7s  (vs HandBrakeCLI, one run each)"
              % ("case", "wall s", "HB s", "size kB", "HB kB", "SSIM", "HB SSIM"))
        for f, kept, wall in rows:
            hb_out = os.path.join(work, "hb" + f["code"] + "." + f["ext"])
            hb = ["HandBrakeCLI", "-i", source, "-o", hb_out, "--crop", "0:0:0:0",
                  "--non-anamorphic", "--width", "1280", "--height", "720",
                  "--mixdown", "stereo", *f["handbrake"]]
            hb_wall, _ = measured.run(hb, env)
            print("%-28s %8.2f %8.2f %9d %9d %7.4f %7.4f"
                  % (f["name"], wall, hb_wall, os.path.getsize(kept) // 1024,
                     os.path.getsize(hb_out) // 1024, ssim(kept, source), ssim(hb_out, source)),
                  flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
