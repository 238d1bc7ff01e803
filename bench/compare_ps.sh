#!/usr/bin/env bash
# Compares the CPU time of one system sample (bench/sampler_bench) with `ps` and `top` on this
# machine: first at its own process count, then with EXTRA (500) more idle processes that this
# script starts and afterwards stops again, by their own PIDs.
#
# Usage: bench/compare_ps.sh [BUILD_DIR]     (default: build)
# Environment: RUNS (20) runs of ps and top per figure, SAMPLES (40) samples of ours, EXTRA (500).
# Prints one Markdown table row per tool and process count; CPU is user + system time.
set -euo pipefail

build=${1:-build}
bench="$build/bench/sampler_bench"
runs=${RUNS:-20}
samples=${SAMPLES:-40}
extra=${EXTRA:-500}

if [[ ! -x $bench ]]; then
    echo "no $bench: build the sampler_bench target first" >&2
    exit 1
fi
for tool in ps top; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done

extra_pids=()
stop_extra() {
    if ((${#extra_pids[@]})); then
        kill "${extra_pids[@]}" 2>/dev/null || true
        wait "${extra_pids[@]}" 2>/dev/null || true
        extra_pids=()
    fi
}
trap stop_extra EXIT

process_count() {
    local n=0 entry
    for entry in /proc/[0-9]*; do n=$((n + 1)); done
    echo "$n"
}

# Microseconds of CPU (user + system, children included) that one run of the command takes.
cpu_per_run() {
    local TIMEFORMAT='%3U %3S' times
    times=$({ time (for ((i = 0; i < runs; i++)); do "$@" >/dev/null 2>&1; done); } 2>&1)
    awk -v t="$times" -v r="$runs" 'BEGIN { split(t, a, " "); printf "%.0f", (a[1] + a[2]) * 1e6 / r }'
}

field() { # field NAME LINE: the value of NAME=value in a sampler_bench line
    sed -n "s/.*$1=\([^ ]*\).*/\1/p" <<<"$2"
}

row() { # row TOOL PROCESSES CPU_US
    awk -v tool="$1" -v n="$2" -v us="$3" \
        'BEGIN { printf "| %s | %d | %.0f | %.1f |\n", tool, n, us, us / n }'
}

measure() {
    local n kept cold
    n=$(process_count)
    kept=$("$bench" "$samples" 50)
    cold=$("$bench" "$samples" 50 --cold)
    row "sampler (descriptors kept)" "$(field processes "$kept")" "$(field cpu_us_per_sample "$kept")"
    row "sampler (opened afresh)" "$(field processes "$cold")" "$(field cpu_us_per_sample "$cold")"
    row "ps -e -o pid,comm,time,rss" "$n" "$(cpu_per_run ps -e -o pid,comm,time,rss)"
    row "top -b -n 1" "$n" "$(cpu_per_run top -b -n 1)"
}

echo "| tool | processes | CPU µs per sample | CPU µs per process |"
echo "|---|---|---|---|"
measure
for ((i = 0; i < extra; i++)); do
    sleep 3600 &
    extra_pids+=($!)
done
measure
stop_extra
