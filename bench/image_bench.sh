#!/usr/bin/env bash
# The command line on a machine of 1,000 users and 5,000 files kept in a host directory and in a
# 2 GB FAT16 disk image (made by program_bench --write-machines): `tarnwick-policy set` on each,
# and mtype reading the three registry files out of the image; the best of five runs, in
# milliseconds, with the peak memory. Then program_bench's start to the first user shown on both.
# Usage: bench/image_bench.sh [BUILD_DIR]  (a Release build with -DTARNWICK_BENCH=ON; build-bench
# in the checkout by default, targets program_bench and tarnwick-policy)
set -euo pipefail

build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build-bench}
bench=$build/bench/program_bench
policy=$build/tools/tarnwick-policy/tarnwick-policy
for program in "$bench" "$policy"; do
  [ -x "$program" ] || {
    echo "no $program; build it first:" >&2
    echo "  cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BENCH=ON" >&2
    echo "  cmake --build build-bench --target program_bench tarnwick-policy" >&2
    exit 1
  }
done

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$bench" --write-machines "$dir"
echo "Image: $(stat -c %s "$dir/image/c.img") bytes, $(du -k "$dir/image/c.img" | cut -f1) KB used"

best() {  # best of five: wall milliseconds and peak memory; %V in the command becomes 0 or 1
  local label=$1
  shift
  local best="" peak=0
  for run in 1 2 3 4 5; do
    local start end ms kb
    start=$(date +%s%N)
    local args=("${@//%V/$((run % 2))}")
    /usr/bin/time -f '%M' -o "$dir/time" "${args[@]}" >/dev/null
    kb=$(tail -1 "$dir/time")
    end=$(date +%s%N)
    ms=$(((end - start) / 1000000))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    if [ "$kb" -gt "$peak" ]; then peak=$kb; fi
  done
  printf '%-34s %6d ms  %6d KB peak\n' "$label" "$best" "$peak"
}

best "tarnwick-policy set (directory)" "$policy" --machine "$dir/directory" set User500 NoRun %V
best "tarnwick-policy set (image)" "$policy" --machine "$dir/image" set User500 NoRun %V
drive="$dir/image/c.img@@1048576"
best "mtype of the three registry files" sh -c "mtype -i '$drive' ::/WINDOWS/SYSTEM.DAT &&
  mtype -i '$drive' ::/WINDOWS/USER.DAT && mtype -i '$drive' ::/WINDOWS/Tarnex.pol"
"$bench" --benchmark_filter=ProcessStart --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true
