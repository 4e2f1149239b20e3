#!/usr/bin/env bash
# Whole-process timing of talvex beside cp: encryption, test and decryption
# of a 64 MiB input, with a 16 MiB key (32-bit mode, 768 MiB text), a 64 KiB
# key (32-bit, cached) and a 200-byte key (8-bit, 384 MiB text). Each step
# writes a fresh output, as does the cp of the text it is measured against;
# the runs are interleaved (talvex -e, cp, talvex -t, talvex -d, then again)
# and the medians of the wall times are reported with each step's peak
# resident memory. Replacing an existing output pays for bringing the new
# one to disk first; that case is measured on its own. A last run encrypts
# and decrypts a 1 GiB input once, for the memory bound.
#
# Usage: bench/whole_process.sh [--tmpfs] [--runs N] [--no-large] [TALVEX_BINARY]
#   --tmpfs     work in a folder on tmpfs (/dev/shm), which keeps the disk's
#               own timing noise out
#   --runs N    interleaved runs per step, default 5
#   --no-large  leave out the 1 GiB run
#   TALVEX_BINARY  default build/talvex (nothing is built here)
# Environment: WORK_DIR, the folder to work in (default: a new one under
# $TMPDIR or /tmp, or /dev/shm with --tmpfs; about 2.5 GB is needed, 15 GB
# with the 1 GiB run); INPUT_MIB (64) and LARGE_MIB (1024) change the sizes.
set -euo pipefail

runs=5
tmpfs=false
large=true
talvex=build/talvex
while (($#)); do
  case $1 in
    --tmpfs) tmpfs=true ;;
    --runs) runs=$2; shift ;;
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
# wall time to the millisecond (GNU time gives only hundredths), the peak
# from GNU time. The command's console output is dropped.
measure() {
  local file=$1 start end
  shift
  start=$(date +%s%N)
  /usr/bin/time -f "%M" -o time.out "$@" >/dev/null
  end=$(date +%s%N)
  echo "$(awk -v d=$((end - start)) 'BEGIN {printf "%.3f", d / 1e9}') $(cat time.out)" >>"$file"
}
median() { cut -d' ' -f1 "$1" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
peak_mib() { cut -d' ' -f2 "$1" | sort -g | tail -n 1 | awk '{printf "%.0f", $1 / 1024}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", (b > 0) ? a / b : 0}'; }
mib() { awk -v b="$1" 'BEGIN {printf "%.0f", b / 1048576}'; }
check() { awk -v a="$1" -v b="$2" 'BEGIN {print (a <= b) ? "ok" : "OVER"}'; }

head -c $((input_mib << 20)) /dev/urandom >in.bin

row() {  # step, wall, x cp, peak, bound, check
  printf '| %-22s | %7s | %6s | %8s | %9s | %-5s |\n' "$@"
}

# One key: interleaved runs of every step, then the table rows.
bench_key() {
  local name=$1 key_bytes=$2
  head -c "$key_bytes" /dev/urandom >key.bin
  rm -f enc.txt cp.txt test.txt dec.txt
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
  done
  local text_bytes bound cp_wall
  text_bytes=$(stat -c %s 'bin#out.tvx')
  bound=$(mib $((key_bytes + (64 << 20))))
  cp_wall=$(median cp.txt)
  echo
  echo "$name key, ${input_mib} MiB input, $(mib "$text_bytes") MiB text; median of $runs runs"
  echo
  row step "wall s" "x cp" "peak MiB" "bound MiB" check
  row "---" "---" "---" "---" "---" "---"
  row "talvex -e" "$(median enc.txt)" "$(ratio "$(median enc.txt)" "$cp_wall")" "$(peak_mib enc.txt)" \
    "$bound" "$(check "$(peak_mib enc.txt)" "$bound")"
  row "talvex -d" "$(median dec.txt)" "$(ratio "$(median dec.txt)" "$cp_wall")" "$(peak_mib dec.txt)" \
    "$bound" "$(check "$(peak_mib dec.txt)" "$bound")"
  row "talvex -t" "$(median test.txt)" "$(ratio "$(median test.txt)" "$cp_wall")" "$(peak_mib test.txt)" "-" "-"
  row "cp of the text" "$cp_wall" "1.00" "$(peak_mib cp.txt)" "-" "-"
}

# Replacing an existing output: talvex renames its new file over the old
# one only once the new one is on disk; cp truncates the old one and writes
# it anew. Both start from an existing file of the same size.
bench_replace() {
  rm -f enc_r.txt cp_r.txt dec_r.txt
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
  echo "replacing existing outputs (16 MiB key): median of $runs runs"
  echo
  row step "wall s" "x cp" "peak MiB" "bound MiB" check
  row "---" "---" "---" "---" "---" "---"
  row "talvex -e, replacing" "$(median enc_r.txt)" "$(ratio "$(median enc_r.txt)" "$cp_wall")" \
    "$(peak_mib enc_r.txt)" "-" "-"
  row "talvex -d, replacing" "$(median dec_r.txt)" "$(ratio "$(median dec_r.txt)" "$cp_wall")" \
    "$(peak_mib dec_r.txt)" "-" "-"
  row "cp over the copy" "$cp_wall" "1.00" "$(peak_mib cp_r.txt)" "-" "-"
}

bench_key "200-byte" 200
bench_key "64 KiB" 65536
bench_key "16 MiB" $((16 << 20))
bench_replace
rm -f copy.tvx

if $large; then
  rm -f 'bin#out.tvx' back.bin in.bin enc.txt dec.txt
  head -c $((large_mib << 20)) /dev/urandom >in.bin
  sync
  measure enc.txt "$talvex" -e key.bin in.bin out.tvx
  sync
  measure dec.txt "$talvex" -d key.bin 'bin#out.tvx' back
  cmp -s in.bin back.bin || { echo "decrypted large file differs from the input" >&2; exit 1; }
  bound=$(mib $(((16 << 20) + (64 << 20))))
  echo
  echo "16 MiB key, ${large_mib} MiB input, $(mib "$(stat -c %s 'bin#out.tvx')") MiB text; one run"
  echo
  row step "wall s" "-" "peak MiB" "bound MiB" check
  row "---" "---" "---" "---" "---" "---"
  row "talvex -e" "$(median enc.txt)" "-" "$(peak_mib enc.txt)" "$bound" "$(check "$(peak_mib enc.txt)" "$bound")"
  row "talvex -d" "$(median dec.txt)" "-" "$(peak_mib dec.txt)" "$bound" "$(check "$(peak_mib dec.txt)" "$bound")"
fi
