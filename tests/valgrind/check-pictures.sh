#!/bin/sh
# Runs the picture paths under valgrind and fails on any invalid access:
# the player and the picture copy (the test program), the snapshot of a
# seek and a conversion with a text layer (drawn through the frame hook) of
# a phone clip stood upright to 360x640, and the crop dialog's pictures.
# usage: check-pictures.sh VALGRIND TEST-PROGRAM VANTREL-PLAY VANTREL-CONVERT CROP-WINDOW-TEST
set -eu
valgrind=$1 tests=$2 play=$3 convert=$4 crop=$5
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/home" "$dir/cfg" "$dir/out"

ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=640x360:rate=10 -t 2 -c:v libx264 \
    -preset ultrafast -pix_fmt yuv420p "$dir/flat.mp4"
# The mp4 muxer turns the old tag into a display matrix of a quarter turn.
ffmpeg -nostdin -v error -i "$dir/flat.mp4" -c copy -metadata:s:v:0 rotate=90 "$dir/phone.mp4"

checked() {
    echo "== $*"
    "$valgrind" -q --error-exitcode=99 --undef-value-errors=no --leak-check=no \
        --show-mismatched-frees=no --suppressions="$here/qt.supp" "$@"
}

export VANTREL_PHONE_CLIP="$dir/phone.mp4" HOME="$dir/home" XDG_CONFIG_HOME="$dir/cfg"
checked "$tests"
checked "$play" --snapshot "$dir/still.bmp" --seek 1.5 "$dir/phone.mp4"
test -s "$dir/still.bmp"
checked "$convert" --format 104 --output-dir "$dir/out" --text "Upright@10,20" "$dir/phone.mp4"
ls "$dir/out" | grep -q 'phone_(new)'
checked "$crop" outputViewShowsTheCrop
echo "no invalid access"
