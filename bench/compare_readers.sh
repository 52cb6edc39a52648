#!/usr/bin/env bash
# Times our registry codec, cregexport and Parse::Win32Registry on the same 5,000-key file in
# one run. Usage: bench/compare_readers.sh [BUILD_DIR]  (a Release build with -DTARNWICK_BENCH=ON;
# build-bench in the checkout by default)
set -euo pipefail

build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build-bench}
bench="$build/bench/creg_bench"
[ -x "$bench" ] || {
  echo "no $bench; build it first:" >&2
  echo "  cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTARNWICK_BENCH=ON" >&2
  echo "  cmake --build build-bench --target creg_bench" >&2
  exit 1
}

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
hive="$dir/SYSTEM.DAT"
"$bench" --write-hive="$hive"
echo "File: $(stat -c %s "$hive") bytes"

# Every key and value with its data, as the interop tests read them.
perl_walk='Parse::Win32Registry::enable_warnings();
my $r = Parse::Win32Registry->new($ARGV[0]) or die "not a registry file\n";
my $n = 0;
sub w { my ($k) = @_; for ($k->get_list_of_values) { $_->get_raw_data; $n++ }
        w($_) for $k->get_list_of_subkeys }
w($r->get_root_key); print STDERR "values: $n\n" if $ENV{VERBOSE};'

best() {  # best of 3 wall-clock runs, in milliseconds
  local label=$1; shift
  local best=""
  for _ in 1 2 3; do
    local start end ms
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    ms=$(( (end - start) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  printf '%-40s %6d ms (best of 3)\n' "$label" "$best"
}

best "cregexport (full export)" cregexport "$hive"
best "Parse::Win32Registry (every value)" perl -MParse::Win32Registry -e "$perl_walk" "$hive"
"$bench" --benchmark_min_time=0.5
