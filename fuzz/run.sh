#!/usr/bin/env bash
# Runs every fuzz target for SECONDS (default 30) on a scratch copy of its seed corpus in
# fuzz/corpus/<name>/, so that the units it finds stay out of the repository. Stops at the first
# finding and leaves the input that caused it in the scratch folder it names.
# Usage: fuzz/run.sh BUILD_DIR [SECONDS]   (BUILD_DIR configured with -DSORVI_BUILD_FUZZ=ON)
set -euo pipefail
build=${1:?usage: fuzz/run.sh BUILD_DIR [SECONDS]}
seconds=${2:-30}
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
for corpus in "$here"/corpus/*/; do
  name=$(basename "$corpus")
  mkdir -p "$scratch/$name"
  cp "$corpus"/* "$scratch/$name/"
  echo "fuzz_$name: ${seconds} s (findings go to $scratch)"
  "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$scratch/$name-" "$scratch/$name"
done
rm -rf "$scratch"
