#!/usr/bin/env bash
# The Windows build under wine beside the Linux build, in one run: -e of a
# 1 MiB and a 64 MiB input with a 16 MiB and a 1,000,000,000-byte key, the
# builds interleaved: the median wall time of each and its ratio to the
# Linux build's, and the median processor time (user and system, GNU
# time), which other work on the machine disturbs less. Wine's own start
# (about 0.05 s) is part of every Windows figure. A second Windows
# executable, if given, is timed beside the first (an older build, say).
#
# Usage: bench/windows_under_wine.sh [--runs N] LINUX_TALVEX TALVEX_EXE [OTHER_TALVEX_EXE]
# Environment: WORK_DIR, the folder (default: a new one under /dev/shm,
# which keeps the disk's timing out; about 1.1 GB); TALVEX_WINE, wine
# (default /usr/lib/wine/wine64).
set -euo pipefail

runs=5
if [[ ${1:-} == --runs ]]; then
  runs=$2
  shift 2
fi
(($# >= 2)) || { echo "usage: $0 [--runs N] LINUX_TALVEX TALVEX_EXE [OTHER_TALVEX_EXE]" >&2; exit 2; }
linux=$(realpath "$1")
exes=()
for exe in "${@:2}"; do exes+=("$(realpath "$exe")"); done
wine=${TALVEX_WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=-all LC_ALL=C.UTF-8

if [[ -n ${WORK_DIR:-} ]]; then
  dir=$WORK_DIR
  mkdir -p "$dir"
else
  dir=$(mktemp -d /dev/shm/talvex_wine.XXXXXX)
  trap 'rm -rf "$dir"' EXIT
fi
cd "$dir"
head -c $((64 << 20)) /dev/urandom >in64.bin
head -c $((1 << 20)) in64.bin >in1.bin
head -c $((16 << 20)) /dev/urandom >key16.bin
head -c 1000000000 /dev/urandom >key1g.bin
"$wine" wineboot -i >/dev/null 2>&1 || true

# Appends the wall time of one run, to a tenth of a millisecond, and its
# processor time to file $1.
measure() {
  local file=$1 start
  shift
  start=$EPOCHREALTIME
  /usr/bin/time -f "%U %S" -o cpu.out "$@" >/dev/null
  awk -v a="$start" -v b="$EPOCHREALTIME" '{printf "%.4f %.2f\n", b - a, $1 + $2}' cpu.out >>"$file"
}
median() {  # file, column
  cut -d' ' -f"$2" "$1" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
cell() {  # times file, Linux times file
  awk -v a="$(median "$1" 1)" -v b="$(median "$2" 1)" -v c="$(median "$1" 2)" \
    'BEGIN {printf "%.3f (%.2fx), cpu %.2f", a, a / b, c}'
}

header="| key | input | Linux s, cpu s"
for exe in "${exes[@]}"; do header+=" | $exe s (x Linux), cpu s"; done
echo "$(nproc) cores, median of $runs runs"
echo "$header |"
for key in key16.bin key1g.bin; do
  for input in in1.bin in64.bin; do
    rm -f ./*.times
    for ((i = 0; i < runs; i++)); do
      measure linux.times "$linux" -e "$key" "$input" out.tvx
      for n in "${!exes[@]}"; do measure "exe$n.times" "$wine" "${exes[$n]}" -e "$key" "$input" out.tvx; done
    done
    row="| $key | $input | $(median linux.times 1), cpu $(median linux.times 2)"
    for n in "${!exes[@]}"; do row+=" | $(cell "exe$n.times" linux.times)"; done
    echo "$row |"
  done
done
