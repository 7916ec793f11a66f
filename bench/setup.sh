#!/bin/sh
# What the benchmark compares against besides ffmpeg: HandBrakeCLI (case b).
# Not needed by make test.
set -e
if command -v HandBrakeCLI >/dev/null 2>&1; then exit 0; fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO apt-get install -y --no-install-recommends handbrake-cli
