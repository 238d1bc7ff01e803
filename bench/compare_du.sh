#!/usr/bin/env bash
# Measures a folder's allocated size the way the scanner does and compares it with du and gdu on a
# synthetic cache-like tree (about 200,000 files over uneven top-level folders, links, hidden
# folders): first that our total equals the sum of st_blocks × 512 over the regular files, then
# wall time, CPU time (user + system) and peak memory with the page cache warm, then, when this
# user may drop the page cache, wall time with a cold cache for 2 and 8 walker threads.
#
# Usage: bench/compare_du.sh [BUILD_DIR]
#   BUILD_DIR  build folder to use or create (default: build-bench in the source tree)
# Environment:
#   FILES=200000  files in the tree       RUNS=20      warm runs per tool
#   COLD_RUNS=5   cold runs per command   COLD=0       skip the cold-cache part
#   KEEP=1        keep the tree and the raw results (their folder is printed)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(dirname "$here")
build=${1:-$source_dir/build-bench}
files=${FILES:-200000}
runs=${RUNS:-20}
cold_runs=${COLD_RUNS:-5}

for tool in cmake hyperfine du gdu find awk /usr/bin/time; do
    if ! command -v "$tool" >/dev/null; then
        echo "compare_du: $tool is missing; run bash scripts/install-deps.sh" >&2
        exit 1
    fi
done

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DSORVI_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target allocated_size make_cache_tree >/dev/null
ours=$build/bench/allocated_size

work=$(mktemp -d "${TMPDIR:-/tmp}/sorvi-bench-XXXXXX")
cleanup() { if [ "${KEEP:-0}" = 1 ]; then echo "kept: $work"; else rm -rf "$work"; fi; }
trap cleanup EXIT
tree=$work/tree

echo "== tree"
"$build/bench/make_cache_tree" "$tree" "$files"

echo "== total"
total=$("$ours" "$tree")
expected=$(find "$tree" -type f -printf '%b\n' | awk '{ s += $1 } END { printf "%.0f\n", s * 512 }')
echo "ours: $total bytes   find -type f, sum of %b × 512: $expected bytes"
if [ "$total" != "$expected" ]; then
    echo "compare_du: totals differ" >&2
    exit 1
fi

declare -A command=(
    [ours]="$ours $tree"
    [du]="du -s -l -B1 $tree"
    [gdu]="gdu -n -p -s --no-prefix $tree"
)
tools=(ours du gdu)

echo "== warm cache: $runs runs each"
hyperfine -N --style basic --warmup 3 --runs "$runs" --export-csv "$work/warm.csv" \
    -n ours "${command[ours]}" -n du "${command[du]}" -n gdu "${command[gdu]}"

# Peak resident set of each tool: the largest of five runs, in KiB.
declare -A peak
for tool in "${tools[@]}"; do
    peak[$tool]=0
    for _ in 1 2 3 4 5; do
        # shellcheck disable=SC2086  # the command is meant to be split into words
        kib=$(/usr/bin/time -f %M ${command[$tool]} 2>&1 >/dev/null | tail -n 1)
        if [ "$kib" -gt "${peak[$tool]}" ]; then peak[$tool]=$kib; fi
    done
done

# hyperfine's CSV: command,mean,stddev,median,user,system,min,max (seconds).
field() { awk -F, -v name="$1" -v col="$2" '$1 == name { print $col }' "$work/warm.csv"; }
declare -A wall cpu
for tool in "${tools[@]}"; do
    wall[$tool]=$(field "$tool" 4)
    cpu[$tool]=$(awk -v u="$(field "$tool" 5)" -v s="$(field "$tool" 6)" 'BEGIN { print u + s }')
done

echo
printf '%-6s %14s %14s %12s\n' tool "median wall s" "CPU s (u+s)" "peak MiB"
for tool in "${tools[@]}"; do
    awk -v t="$tool" -v w="${wall[$tool]}" -v c="${cpu[$tool]}" -v m="${peak[$tool]}" \
        'BEGIN { printf "%-6s %14.3f %14.3f %12.1f\n", t, w, c, m / 1024 }'
done
verdict() { if awk "BEGIN { exit !($1) }"; then echo met; else echo MISSED; fi; }
wall_ratio=$(awk -v a="${wall[ours]}" -v b="${wall[du]}" 'BEGIN { printf "%.2f", a / b }')
cpu_ratio=$(awk -v a="${cpu[ours]}" -v b="${cpu[du]}" 'BEGIN { printf "%.2f", a / b }')
peak_mib=$(awk -v m="${peak[ours]}" 'BEGIN { printf "%.1f", m / 1024 }')
echo
echo "ours / du, median wall: $wall_ratio (target <= 0.50: $(verdict "$wall_ratio <= 0.5"))"
echo "ours / du, CPU time:    $cpu_ratio (target <= 0.90: $(verdict "$cpu_ratio <= 0.9"))"
echo "ours, peak memory:      $peak_mib MiB (target < 32: $(verdict "$peak_mib < 32"))"

if [ "${COLD:-1}" = 0 ]; then
    exit 0
fi
echo
if ! (sync && echo 3 >/proc/sys/vm/drop_caches) 2>/dev/null; then
    echo "== cold cache: skipped (this user may not write /proc/sys/vm/drop_caches)"
    exit 0
fi
echo "== cold cache: page cache dropped before each of $cold_runs runs"
hyperfine -N --style basic --runs "$cold_runs" --export-csv "$work/cold.csv" \
    --prepare "sh -c 'sync; echo 3 > /proc/sys/vm/drop_caches'" \
    -n ours-2-threads "$ours $tree 2" -n ours-8-threads "$ours $tree 8" \
    -n ours-default "${command[ours]}" -n du "${command[du]}" -n gdu "${command[gdu]}"
echo
printf '%-16s %14s\n' command "median wall s"
awk -F, 'NR > 1 { printf "%-16s %14.3f\n", $1, $4 }' "$work/cold.csv"
