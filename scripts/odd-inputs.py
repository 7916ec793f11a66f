#!/usr/bin/env python3
"""Runs files people really have through vantrel-convert and prints a table.

The inputs are made with ffmpeg in WORK (broken ones: cut, garbage in the
middle, empty; odd ones: 10-bit, HDR, anamorphic, turned, tagged, late
audio, variable rate, two audio streams, subtitles, audio or video only, a
1x1 and an odd-sized picture, a stream without packets). Each goes through
the classic form and the format form with a few format codes. A row shows
the exit code, the time, what ffprobe finds in the output (duration, frames,
pixel format, colour tags, sample aspect ratio, rotation, title) and flags:

  CRASH    ended by a signal          HANG     over the time limit
  SILENT   exit 0 without a readable output
  TOUCHED  the source's checksum changed

    odd-inputs.py BUILD_DIR [--work DIR] [--formats 103,300,303,200]
                  [--only NAME,...] [--limit SECONDS]

The long name (250 bytes and the extension) gets a shortened output name
in the format form; the classic form's output, named after the whole
source name, is too long for a folder entry, so its refusal is expected.

Not part of `make test`; it takes a few minutes.
"""
import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys
import time

FF = ["ffmpeg", "-hide_banner", "-loglevel", "error", "-y"]
V320 = "testsrc2=size=320x240:rate=25:duration=3"
A3 = "sine=f=440:duration=3"

# name: (file name, ffmpeg arguments before the output)
MADE = {
    "base": ("base.mp4", f"-f lavfi -i {V320} -f lavfi -i {A3} -c:v libx264 -pix_fmt yuv420p -c:a aac"),
    "base_ts": ("base.ts", f"-f lavfi -i {V320} -f lavfi -i {A3} -c:v libx264 -c:a aac"),
    "h264_10": ("h264_10.mkv", f"-f lavfi -i {V320} -c:v libx264 -pix_fmt yuv420p10le"),
    "hevc_10": ("hevc_10.mkv", f"-f lavfi -i {V320} -c:v libx265 -pix_fmt yuv420p10le "
                "-x265-params log-level=error"),
    "hdr": ("hdr.mp4", f"-f lavfi -i {V320} -c:v libx265 -pix_fmt yuv420p10le -color_primaries bt2020 "
            "-color_trc smpte2084 -colorspace bt2020nc -x265-params log-level=error:hdr10=1:"
            "max-cll=1000,400"),
    "sar43": ("sar43.mp4", f"-f lavfi -i {V320} -vf setsar=4/3 -c:v libx264"),
    "sar3227": ("sar3227.mp4", "-f lavfi -i testsrc2=size=720x480:rate=25:duration=2 -vf setsar=32/27 "
                "-c:v libx264"),
    "tags": ("tags.mp4", f"-f lavfi -i {V320} -f lavfi -i {A3} -c:v libx264 -c:a aac -metadata "
             "title=TheTitle -metadata artist=TheArtist -metadata:s:a:0 language=fra"),
    "late_audio": ("latea.mp4", "-f lavfi -i testsrc2=size=320x240:rate=25:duration=5 -itsoffset 2 "
                   f"-f lavfi -i {A3} -map 0 -map 1 -c:v libx264 -c:a aac"),
    "vfr": ("vfr.mkv", "-f lavfi -i testsrc2=size=320x240:rate=25:duration=4 "
            "-vf select='not(between(n\\,20\\,60))' -vsync vfr -c:v libx264"),
    "two_audio": ("twoaudio.mkv", f"-f lavfi -i {V320} -f lavfi -i {A3} -f lavfi -i sine=f=880:duration=3 "
                  "-map 0 -map 1 -map 2 -c:v libx264 -c:a aac -metadata:s:a:0 language=eng "
                  "-metadata:s:a:1 language=ger"),
    "subtitle": ("sub.mkv", f"-f lavfi -i {V320} -f lavfi -i {A3} -i SRT -map 0 -map 1 -map 2 "
                 "-c:v libx264 -c:a aac -c:s srt"),
    "audio_only": ("audioonly.mp3", f"-f lavfi -i {A3} -c:a libmp3lame"),
    "video_only": ("videoonly.mp4", f"-f lavfi -i {V320} -c:v libx264"),
    "one_by_one": ("onebyone.mkv", "-f lavfi -i color=c=red:s=16x16:r=25:d=2,scale=1:1 -c:v ffv1"),
    "odd_size": ("odd.mkv", f"-f lavfi -i {V320} -f lavfi -i {A3} -vf scale=321:241 -pix_fmt yuv420p "
                 "-c:v ffv1 -c:a pcm_s16le"),
    "faststart": ("faststart.mp4", f"-f lavfi -i {V320} -f lavfi -i {A3} -c:v libx264 -c:a aac "
                  "-movflags +faststart"),
    "no_audio_packets": ("zeropkt.mkv", f"-f lavfi -i {V320} -f lavfi -i {A3} -filter_complex "
                         "[1]atrim=end_sample=0[a] -map 0 -map [a] -c:v libx264 -c:a aac"),
    "no_video_packets": ("zeropktv.mkv", f"-f lavfi -i {V320} -f lavfi -i {A3} -filter_complex "
                         "[0]trim=end_frame=0[v] -map [v] -map 1 -c:v libx264 -c:a aac"),
    "silent_first_track": ("silentfirst.mkv", f"-f lavfi -i {A3} -f lavfi -i {A3} -filter_complex "
                           "[0]atrim=end_sample=0[a] -map [a] -map 1 -c:a aac"),
    "subtitles_only": ("subonly.mkv", "-i SRT -c:s srt"),
    "rgb_odd_width": ("rgbodd.mkv", "-f lavfi -i color=c=0x3070C0:size=64x48:rate=25:duration=2 "
                      "-vf scale=65:49,format=rgb24 -c:v png"),
    "interlaced": ("inter.mpg", f"-f lavfi -i {V320} -vf tinterlace=interleave_top -c:v mpeg2video "
                   "-flags +ilme+ildct"),
    "ts_near_wrap": ("wrap.ts", f"-f lavfi -i {V320} -f lavfi -i {A3} -c:v libx264 -c:a mp2 "
                     "-output_ts_offset 95430"),
    "still_png": ("still.png", "-f lavfi -i testsrc2=size=320x240 -frames:v 1"),
    "six_channels": ("six.wav", f"-f lavfi -i {A3} -af pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0 "
                     "-c:a pcm_s24le"),
    "long_name": ("n" * 250 + ".mp4", f"-f lavfi -i {V320} -f lavfi -i {A3} -c:v libx264 -c:a aac"),
}

ROTATED = {"rot90": 90, "rot180": 180, "rot270": 270}
BROKEN = {"cut30": ("base", 0.3), "cut70": ("base", 0.7), "cut30_fast": ("faststart", 0.3),
          "cut70_fast": ("faststart", 0.7), "cut30_ts": ("base_ts", 0.3),
          "cut70_ts": ("base_ts", 0.7)}


def run(args, **kw):
    return subprocess.run(args, capture_output=True, text=True, **kw)


def make_inputs(work):
    srt = os.path.join(work, "s.srt")
    with open(srt, "w") as f:
        f.write("1\n00:00:00,500 --> 00:00:02,000\nHello\n\n2\n00:00:02,200 --> 00:00:03,000\nBye\n")
    files = {}
    for name, (file, args) in MADE.items():
        path = os.path.join(work, file)
        if not os.path.exists(path):
            r = run(FF + args.replace("SRT", srt).split() + [path])
            if r.returncode != 0:
                print(f"could not make {name}: {r.stderr.strip()}", file=sys.stderr)
                continue
        files[name] = path
    for name, turn in ROTATED.items():
        path = os.path.join(work, name + ".mp4")
        run(FF + ["-i", files["base"], "-c", "copy", "-metadata:s:v:0", f"rotate={turn}", path])
        files[name] = path
    for name, (seed, part) in BROKEN.items():
        data = open(files[seed], "rb").read()
        path = os.path.join(work, name + os.path.splitext(files[seed])[1])
        open(path, "wb").write(data[: int(len(data) * part)])
        files[name] = path
    for seed in ("base", "base_ts"):
        data = bytearray(open(files[seed], "rb").read())
        middle = len(data) // 2
        data[middle:middle + 20000] = os.urandom(20000)
        path = os.path.join(work, "garbage" + os.path.splitext(files[seed])[1])
        open(path, "wb").write(data)
        files["garbage_" + seed] = path
    files["zero_bytes"] = os.path.join(work, "zero.mp4")
    open(files["zero_bytes"], "wb").close()
    return files


def checksum(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest() if os.path.exists(path) else ""


def probe(path):
    r = run(["ffprobe", "-v", "error", "-count_frames", "-print_format", "json", "-show_format",
             "-show_streams", path])
    if r.returncode != 0:
        return None
    return json.loads(r.stdout)


def describe(info):
    if info is None:
        return "unreadable"
    parts = [f"dur={float(info['format'].get('duration', 0)):.2f}"]
    for s in info["streams"]:
        kind = s["codec_type"][0]
        text = f"{kind}:{s.get('codec_name')}"
        if kind == "v":
            text += f" n={s.get('nb_read_frames')} {s.get('width')}x{s.get('height')} {s.get('pix_fmt')}"
            text += f" sar={s.get('sample_aspect_ratio', '-')}"
            for key in ("color_primaries", "color_transfer", "color_space"):
                if key in s:
                    text += f" {s[key]}"
            for side in s.get("side_data_list", []):
                if "rotation" in side:
                    text += f" rot={side['rotation']}"
        elif kind == "a":
            text += f" n={s.get('nb_read_frames')} start={s.get('start_time')}"
            lang = s.get("tags", {}).get("language")
            if lang:
                text += f" lang={lang}"
        parts.append(text)
    title = info["format"].get("tags", {}).get("title")
    if title:
        parts.append(f"title={title}")
    return " | ".join(parts)


def convert(build, args, limit, env):
    start = time.monotonic()
    try:
        r = subprocess.run([os.path.join(build, "tools", "vantrel-convert")] + args,
                           capture_output=True, text=True, timeout=limit, env=env)
        code = r.returncode
    except subprocess.TimeoutExpired:
        code = None
    return code, time.monotonic() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--work", default="/tmp/vantrel-odd")
    parser.add_argument("--formats", default="103,300,303,200,109")
    parser.add_argument("--only", default="")
    parser.add_argument("--limit", type=float, default=60)
    opts = parser.parse_args()
    os.makedirs(opts.work, exist_ok=True)
    env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(opts.work, "config"))
    files = make_inputs(opts.work)
    only = set(filter(None, opts.only.split(",")))
    out = os.path.join(opts.work, "out")
    for name, path in files.items():
        if only and name not in only:
            continue
        # The classic output is named after the source (a long name stays long).
        classic = os.path.join(out, os.path.basename(path) + ".mkv")
        jobs = [("classic", ["-y", "-i", path, classic])]
        for code in opts.formats.split(","):
            jobs.append((f"fmt{code}", ["--format", code, "--output-dir", out, path]))
        for label, args in jobs:
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            before = checksum(path)
            code, took = convert(opts.build, args, opts.limit, env)
            made = [os.path.join(out, f) for f in os.listdir(out)]
            flags = []
            if code is None:
                flags.append("HANG")
            elif code < 0:
                flags.append("CRASH")
            info = probe(made[0]) if made else None
            if code == 0 and info is None:
                flags.append("SILENT")
            if checksum(path) != before:
                flags.append("TOUCHED")
            print(f"{name:18} {label:8} rc={code} {took:5.1f}s {' '.join(flags):8} "
                  f"{describe(info) if made else 'no output'}", flush=True)


if __name__ == "__main__":
    main()
