#!/bin/sh
# Builds the libFuzzer targets with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each for SECONDS (default 30), starting
# from the seed corpus in fuzz/corpus. New inputs go to build-fuzz/corpus;
# an input that crashes or breaks a property is written to
# build-fuzz/findings/TARGET/, kept in fuzz/findings/TARGET/ (commit it
# with the fix: every build's suite replays it from there), and fails the
# run.
#
# Usage: sh scripts/fuzz.sh [SECONDS] [TARGET...]
#   TARGET: hex_to_int validate decrypt naming routing (default: all)
# Reproduce a finding: build-fuzz/fuzz/fuzz_TARGET FILE
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-30}
[ $# -gt 0 ] && shift
targets=${*:-"hex_to_int validate decrypt naming routing"}

if [ ! -f build-fuzz/CMakeCache.txt ]; then
  CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALVEX_FUZZ=ON \
    -DTALVEX_TESTS=OFF -DTALVEX_BENCH=OFF -DTALVEX_WERROR=ON >/dev/null
fi
cmake --build build-fuzz -j2 >/dev/null

status=0
for target in $targets; do
  mkdir -p "build-fuzz/corpus/$target" "build-fuzz/findings/$target"
  echo "== fuzz_$target, $seconds s"
  if ! UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "build-fuzz/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="build-fuzz/findings/$target/" \
      "build-fuzz/corpus/$target" "fuzz/corpus/$target" >"build-fuzz/fuzz_$target.log" 2>&1; then
    tail -n 40 "build-fuzz/fuzz_$target.log"
    mkdir -p "fuzz/findings/$target"
    cp build-fuzz/findings/"$target"/* "fuzz/findings/$target/" 2>/dev/null || true
    echo "fuzz_$target FAILED: the finding is kept in fuzz/findings/$target/ for the suite to replay"
    status=1
  else
    grep -E "stat::number_of_executed_units|stat::average_exec_per_sec|stat::new_units_added" "build-fuzz/fuzz_$target.log" || true
  fi
done
exit $status
