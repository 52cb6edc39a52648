#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (build-fuzz) and runs each for SECONDS on its corpus
# (build-fuzz/corpus/NAME, seeded by fuzz_seeds). Prints executions, corpus size and findings per
# harness; exits non-zero on any finding (crash, sanitizer report, hang over 2 s, over 500 MB).
# Usage: scripts/fuzz.sh SECONDS [HARNESS...]   (HARNESS: creg regedit4 shell_link ico pe_icons
# recycle_info machine_ini win_path partition_table vhd fat template; default all)
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { echo "usage: $0 SECONDS [HARNESS...]" >&2; exit 2; }
seconds=$1
shift
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] ||
  harnesses=(creg regedit4 shell_link ico pe_icons recycle_info machine_ini win_path partition_table
    vhd fat template)

build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DTARNWICK_FUZZ=ON >/dev/null
cmake --build "$build" >/dev/null
rm -rf "$build/seeds"
"$build/tests/fuzz/fuzz_seeds" "$build/seeds"

# A smaller quarantine keeps the 500 MB limit about what one input takes, not what the
# allocator holds back from earlier ones.
export ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=32
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=0
bad=0
for name in "${harnesses[@]}"; do
  corpus="$build/corpus/$name"
  findings="$build/findings/$name"
  log="$build/findings/$name.log"
  rm -rf "$findings"
  mkdir -p "$corpus" "$findings"
  status=0
  "$build/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=2 -rss_limit_mb=500 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$build/seeds/$name" \
    >"$log" 2>&1 || status=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  size=$(find "$corpus" -type f | wc -l)
  found=$(find "$findings" -maxdepth 1 -type f | wc -l)
  printf '%-13s executions %-10s corpus %-6s findings %s\n' "$name" "${runs:-?}" "$size" "$found"
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    failed=1
    bad=$((bad + 1))
    find "$findings" -maxdepth 1 -type f -printf '  %p\n'
    grep -m1 -A12 -E 'ERROR|broken property|runtime error' "$log" | sed 's/^/  /' || true
    echo "  log: $log"
  fi
done
echo "fuzz: $((${#harnesses[@]} - bad)) passed, $bad failed"
exit $failed
