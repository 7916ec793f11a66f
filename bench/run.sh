#!/bin/sh
# vantrel-convert against the ffmpeg command line; see bench/run.py.
exec python3 "$(dirname "$0")/run.py" "$@"
