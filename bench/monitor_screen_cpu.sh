#!/usr/bin/env bash
# Measures the monitor screen's own CPU use while it samples the real system every 2 s: builds
# monitor_screen_cpu and runs it for a minute on the offscreen platform (or the platform in
# QT_QPA_PLATFORM), then prints its CPU time as a share of one core.
#
# Usage: bench/monitor_screen_cpu.sh [BUILD_DIR]
#   BUILD_DIR  build folder to use or create (default: build-bench in the source tree)
# Environment:
#   SECONDS_MEASURED=60  length of the measurement   WARMUP=6  seconds left out at the start
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$here")
build=${1:-$source_dir/build-bench}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target monitor_screen_cpu >/dev/null

echo "processes on this machine: $(ls -d /proc/[0-9]* | wc -l), cores: $(nproc)"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} \
    "$build/bench/monitor_screen_cpu" "${SECONDS_MEASURED:-60}" "${WARMUP:-6}"
