#!/usr/bin/env bash
# Whole-process timing of talvex beside cp: encryption, test and decryption
# of a 64 MiB input with keys of several sizes: by default 200 bytes (8-bit,
# 384 MiB text), 64 KiB (32-bit, cached), 16 MiB and 1,000,000,000 bytes
# (32-bit, 768 MiB text), the largest key, with which -e of a 1 MiB input is
# timed too. Each step writes a fresh output, as does the cp of the text it
# is measured against; the runs are interleaved (talvex -e, cp, talvex -t,
# talvex -d, then again) and the medians of the wall times are reported
# with each step's peak resident memory (GNU time; a mapped key's pages
# count there, though they belong to the page cache) and peak anonymous
# memory, the tool's own (RssAnon, sampled from /proc in one more run of
# each step). Replacing an existing output pays for bringing the new one to
# disk first; that case is measured on its own. A last run encrypts and
# decrypts a 1 GiB input once, for the memory bound.
#
# Usage: bench/whole_process.sh [--tmpfs] [--runs N] [--keys LIST] [--no-large] [TALVEX_BINARY]
#   --tmpfs     work in a folder on tmpfs (/dev/shm), which keeps the disk's
#               own timing noise out
#   --runs N    interleaved runs per step, default 5
#   --keys LIST key sizes in bytes, comma-separated (100 to 1000000000),
#               default 200,65536,16777216,1000000000
#   --no-large  leave out the 1 GiB run
#   TALVEX_BINARY  default build/talvex (nothing is built here)
# Environment: WORK_DIR, the folder to work in (default: a new one under
# $TMPDIR or /tmp, or /dev/shm with --tmpfs; about 3.5 GB is needed, 15 GB
# with the 1 GiB run); INPUT_MIB (64) and LARGE_MIB (1024) change the sizes.
set -euo pipefail

runs=5
tmpfs=false
large=true
keys=200,65536,16777216,1000000000
talvex=build/talvex
while (($#)); do
  case $1 in
    --tmpfs) tmpfs=true ;;
    --runs) runs=$2; shift ;;
    --keys) keys=$2; shift ;;
    --no-large) large=false ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) talvex=$1 ;;
  esac
  shift
done
input_mib=${INPUT_MIB:-64}
large_mib=${LARGE_MIB:-1024}

if [[ ! -x $talvex ]]; then
  echo "no talvex binary at $talvex (build first, or pass its path)" >&2
  exit 1
fi
talvex=$(cd "$(dirname "$talvex")" && pwd)/$(basename "$talvex")
if [[ ! -x /usr/bin/time ]] || ! /usr/bin/time -f %M true >/dev/null 2>&1; then
  echo "GNU time (/usr/bin/time, Debian package time) is needed for peak memory" >&2
  exit 1
fi

if [[ -n ${WORK_DIR:-} ]]; then
  dir=$WORK_DIR
  mkdir -p "$dir"
else
  base=${TMPDIR:-/tmp}
  $tmpfs && base=/dev/shm
  dir=$(mktemp -d "$base/talvex_bench.XXXXXX")
  trap 'rm -rf "$dir"' EXIT
fi
cd "$dir"
echo "folder: $dir ($(df --output=fstype . | tail -n 1)), $(nproc) cores"

# Runs a command once, appending "wall_seconds peak_kib" to file $1: the
# wall time to a tenth of a millisecond (GNU time gives only hundredths),
# the peak from GNU time. The command's console output is dropped.
measure() {
  local file=$1 start end
  shift
  # The shell's own clock: no process of its own in the time measured.
  start=$EPOCHREALTIME
  /usr/bin/time -f "%M" -o time.out "$@" >/dev/null
  end=$EPOCHREALTIME
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.4f", b - a}') $(cat time.out)" >>"$file"
}
# Runs a command once more, appending its peak RssAnon in KiB to file $1,
# read from /proc as often as the shell can (builtins only) while it runs.
# Not a timed run: the sampling takes a core of its own.
measure_anon() {
  local file=$1 pid peak=0 key value unit
  shift
  "$@" >/dev/null &
  pid=$!
  while [[ -r /proc/$pid/status ]]; do
    while read -r key value unit; do
      if [[ $key == RssAnon: ]]; then
        ((value > peak)) && peak=$value
        break
      fi
    done <"/proc/$pid/status" 2>/dev/null || true
  done
  wait "$pid"
  echo "$peak" >>"$file"
}
median() { cut -d' ' -f1 "$1" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
peak_mib() { cut -d' ' -f2 "$1" | sort -g | tail -n 1 | awk '{printf "%.0f", $1 / 1024}'; }
anon_mib() { sort -g "$1" | tail -n 1 | awk '{printf "%.0f", $1 / 1024}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b > 0) ? a / b : 0}'; }
mib() { awk -v b="$1" 'BEGIN {printf "%.0f", b / 1048576}'; }
check() { awk -v a="$1" -v b="$2" 'BEGIN {print (a <= b) ? "ok" : "OVER"}'; }
key_name() {
  case $1 in
    200) echo "200-byte" ;;
    65536) echo "64 KiB" ;;
    16777216) echo "16 MiB" ;;
    268435456) echo "256 MiB" ;;
    1000000000) echo "1,000,000,000-byte" ;;
    *) echo "$1-byte" ;;
  esac
}

head -c $((input_mib << 20)) /dev/urandom >in.bin
head -c $((1 << 20)) in.bin >small.bin

row() {  # step, wall, x cp, peak, peak anon, bound, check
  printf '| %-24s | %7s | %6s | %8s | %9s | %9s | %-5s |\n' "$@"
}

# The tool's own memory stays within this whatever the key's size: a key
# file is mapped, its pages the page cache's.
anon_bound=64

# One key: interleaved runs of every step, then the table rows.
bench_key() {
  local key_bytes=$1 name
  name=$(key_name "$key_bytes")
  head -c "$key_bytes" /dev/urandom >key.bin
  rm -f enc.txt cp.txt test.txt dec.txt small.txt enc.anon test.anon dec.anon small.anon
  for ((i = 0; i < runs; i++)); do
    rm -f 'bin#out.tvx' copy.tvx back.bin
    sync
    measure enc.txt "$talvex" -e key.bin in.bin out.tvx
    [[ -f bin#out.tvx ]] || { echo "encryption wrote no bin#out.tvx" >&2; exit 1; }
    sync
    measure cp.txt cp 'bin#out.tvx' copy.tvx
    measure test.txt "$talvex" -t key.bin 'bin#out.tvx'
    sync
    measure dec.txt "$talvex" -d key.bin 'bin#out.tvx' back
    cmp -s in.bin back.bin || { echo "decrypted file differs from the input" >&2; exit 1; }
    if ((key_bytes >= 1000000000)); then
      measure small.txt "$talvex" -e key.bin small.bin small.tvx
    fi
  done
  rm -f 'bin#out.tvx' copy.tvx back.bin
  measure_anon enc.anon "$talvex" -e key.bin in.bin out.tvx
  measure_anon test.anon "$talvex" -t key.bin 'bin#out.tvx'
  measure_anon dec.anon "$talvex" -d key.bin 'bin#out.tvx' back
  ((key_bytes >= 1000000000)) && measure_anon small.anon "$talvex" -e key.bin small.bin small.tvx
  local text_bytes cp_wall step
  text_bytes=$(stat -c %s 'bin#out.tvx')
  cp_wall=$(median cp.txt)
  echo
  echo "$name key, ${input_mib} MiB input, $(mib "$text_bytes") MiB text; median of $runs runs"
  echo
  row step "wall s" "x cp" "peak MiB" "anon MiB" "bound MiB" check
  row "---" "---" "---" "---" "---" "---" "---"
  for step in enc dec test; do
    row "talvex -${step:0:1}" "$(median $step.txt)" "$(ratio "$(median $step.txt)" "$cp_wall")" \
      "$(peak_mib $step.txt)" "$(anon_mib $step.anon)" "$anon_bound" \
      "$(check "$(anon_mib $step.anon)" "$anon_bound")"
  done
  if ((key_bytes >= 1000000000)); then
    row "talvex -e, 1 MiB input" "$(median small.txt)" "-" "$(peak_mib small.txt)" \
      "$(anon_mib small.anon)" "$anon_bound" "$(check "$(anon_mib small.anon)" "$anon_bound")"
  fi
  row "cp of the text" "$cp_wall" "1.00" "$(peak_mib cp.txt)" "-" "-" "-"
}

# Replacing an existing output: talvex renames its new file over the old
# one only once the new one is on disk; cp truncates the old one and writes
# it anew. Both start from an existing file of the same size. With the key
# of the last bench_key.
bench_replace() {
  rm -f enc_r.txt cp_r.txt dec_r.txt
  "$talvex" -e key.bin in.bin out.tvx >/dev/null
  cp 'bin#out.tvx' copy.tvx
  "$talvex" -d key.bin 'bin#out.tvx' back >/dev/null
  for ((i = 0; i < runs; i++)); do
    sync
    measure enc_r.txt "$talvex" -e key.bin in.bin out.tvx
    sync
    measure cp_r.txt cp 'bin#out.tvx' copy.tvx
    sync
    measure dec_r.txt "$talvex" -d key.bin 'bin#out.tvx' back
  done
  local cp_wall
  cp_wall=$(median cp_r.txt)
  echo
  echo "replacing existing outputs ($(key_name "$(stat -c %s key.bin)") key): median of $runs runs"
  echo
  row step "wall s" "x cp" "peak MiB" "anon MiB" "bound MiB" check
  row "---" "---" "---" "---" "---" "---" "---"
  row "talvex -e, replacing" "$(median enc_r.txt)" "$(ratio "$(median enc_r.txt)" "$cp_wall")" \
    "$(peak_mib enc_r.txt)" "-" "-" "-"
  row "talvex -d, replacing" "$(median dec_r.txt)" "$(ratio "$(median dec_r.txt)" "$cp_wall")" \
    "$(peak_mib dec_r.txt)" "-" "-" "-"
  row "cp over the copy" "$cp_wall" "1.00" "$(peak_mib cp_r.txt)" "-" "-" "-"
}

IFS=, read -ra key_list <<<"$keys"
for key_bytes in "${key_list[@]}"; do
  bench_key "$key_bytes"
done
bench_replace
rm -f copy.tvx

if $large; then
  rm -f 'bin#out.tvx' back.bin in.bin enc.anon dec.anon
  head -c $((large_mib << 20)) /dev/urandom >in.bin
  sync
  measure_anon enc.anon "$talvex" -e key.bin in.bin out.tvx
  sync
  measure_anon dec.anon "$talvex" -d key.bin 'bin#out.tvx' back
  cmp -s in.bin back.bin || { echo "decrypted large file differs from the input" >&2; exit 1; }
  echo
  echo "$(key_name "$(stat -c %s key.bin)") key, ${large_mib} MiB input," \
    "$(mib "$(stat -c %s 'bin#out.tvx')") MiB text; one run, sampled"
  echo
  row step "wall s" "-" "peak MiB" "anon MiB" "bound MiB" check
  row "---" "---" "---" "---" "---" "---" "---"
  for step in enc dec; do
    row "talvex -${step:0:1}" "-" "-" "-" "$(anon_mib $step.anon)" "$anon_bound" \
      "$(check "$(anon_mib $step.anon)" "$anon_bound")"
  done
fi
