#!/bin/sh
# Runs each fuzz target of a Fuzz build for a bounded time on a scratch copy
# of its seed corpus (fuzz/corpus/<name without "fuzz_">), one at a time.
# A crash, a leak, an undefined operation or an input slower than the
# per-input limit makes the run fail; the input is kept in <build>/fuzz-artifacts.
#   run-fuzzers.sh BUILD_DIR SECONDS [TARGET...]
set -eu
build=$1
seconds=$2
shift 2
targets=${*:-"fuzz_option_text fuzz_settings fuzz_probe"}
root=$(cd "$(dirname "$0")/.." && pwd)
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
status=0
for target in $targets; do
    seeds="$root/fuzz/corpus/${target#fuzz_}"
    work="$build/fuzz-corpus/${target#fuzz_}"
    mkdir -p "$work"
    echo "== $target: $seconds s"
    if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 \
        -print_final_stats=1 -artifact_prefix="$artifacts/$target-" "$work" "$seeds"; then
        echo "== $target FAILED (input in $artifacts)"
        status=1
    fi
done
exit $status
