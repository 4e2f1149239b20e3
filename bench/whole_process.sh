#!/usr/bin/env bash
# Whole-process timing of talvex on a 64 MiB input with a 16 MiB key (32-bit
# mode): encryption and decryption beside a plain cp of the encrypted file,
# each run several times; reports median wall seconds, the ratio of
# encryption to cp, and peak resident memory against key + input + output
# + 32 MiB.
#
# Usage: bench/whole_process.sh [TALVEX_BINARY] [RUNS]
#   TALVEX_BINARY  default build/talvex (nothing is built here)
#   RUNS           default 5
# Environment: WORK_DIR, a directory for the temporary files (default: a new
# one under $TMPDIR or /tmp; about 1.7 GB is needed); INPUT_MIB and KEY_MIB
# change the sizes (defaults 64 and 16).
set -euo pipefail

talvex=${1:-build/talvex}
runs=${2:-5}
input_mib=${INPUT_MIB:-64}
key_mib=${KEY_MIB:-16}

if [[ ! -x $talvex ]]; then
  echo "no talvex binary at $talvex (build first, or pass its path)" >&2
  exit 1
fi
talvex=$(cd "$(dirname "$talvex")" && pwd)/$(basename "$talvex")

# GNU time gives the peak resident set size; without it only wall times
# are measured (with the shell's own clock).
gnu_time=""
if [[ -x /usr/bin/time ]] && /usr/bin/time -f %M true >/dev/null 2>&1; then
  gnu_time=/usr/bin/time
else
  echo "note: GNU time (/usr/bin/time) not found; peak memory is not measured" >&2
fi

if [[ -n ${WORK_DIR:-} ]]; then
  dir=$WORK_DIR
  mkdir -p "$dir"
else
  dir=$(mktemp -d "${TMPDIR:-/tmp}/talvex_bench.XXXXXX")
  trap 'rm -rf "$dir"' EXIT
fi
cd "$dir"

head -c $((input_mib << 20)) /dev/urandom >in.bin
head -c $((key_mib << 20)) /dev/urandom >key.bin

# Runs a command once; prints "wall_seconds peak_kib" (peak "-" without
# GNU time). The command's console output is dropped.
measure() {
  if [[ -n $gnu_time ]]; then
    "$gnu_time" -f "%e %M" -o time.out "$@" >/dev/null
    cat time.out
  else
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    echo "$(echo "$end - $start" | bc -l) -"
  fi
}

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
largest() { sort -g | tail -n 1; }

: >enc.txt
: >dec.txt
: >cp.txt
: >dd.txt
for ((i = 0; i < runs; i++)); do
  rm -f 'bin#out.tvx' back.bin copy.tvx copy2.tvx
  sync
  measure "$talvex" -e key.bin in.bin out.tvx >>enc.txt
  [[ -f bin#out.tvx ]] || { echo "encryption wrote no bin#out.tvx" >&2; exit 1; }
  sync
  measure cp 'bin#out.tvx' copy.tvx >>cp.txt
  sync
  # cp copies inside the kernel (copy_file_range); dd moves the bytes
  # through user memory with read and write, as talvex must.
  measure dd if='bin#out.tvx' of=copy2.tvx bs=4M status=none >>dd.txt
  sync
  measure "$talvex" -d key.bin 'bin#out.tvx' back.bin >>dec.txt
  cmp -s in.bin back.bin || { echo "decrypted file differs from the input" >&2; exit 1; }
done

input_bytes=$((input_mib << 20))
key_bytes=$((key_mib << 20))
text_bytes=$(stat -c %s 'bin#out.tvx')

enc_wall=$(cut -d' ' -f1 enc.txt | median)
dec_wall=$(cut -d' ' -f1 dec.txt | median)
cp_wall=$(cut -d' ' -f1 cp.txt | median)
dd_wall=$(cut -d' ' -f1 dd.txt | median)

# The bound: key + input + output + 32 MiB, in MiB. Encryption's output is
# the text; decryption's input is the text and its output the plain bytes.
mib() { awk -v b="$1" 'BEGIN {printf "%.0f", b / 1048576}'; }
enc_bound=$(mib $((key_bytes + input_bytes + text_bytes + (32 << 20))))
dec_bound=$(mib $((key_bytes + text_bytes + input_bytes + (32 << 20))))

peak_of() {
  if [[ -n $gnu_time ]]; then
    awk -v k="$(cut -d' ' -f2 "$1" | largest)" 'BEGIN {printf "%.0f", k / 1024}'
  else
    echo "-"
  fi
}
verdict() {
  [[ $1 == - ]] && { echo "-"; return; }
  if (($1 <= $2)); then echo "ok"; else echo "OVER"; fi
}
enc_peak=$(peak_of enc.txt)
dec_peak=$(peak_of dec.txt)
cp_peak=$(peak_of cp.txt)

echo "talvex whole process: ${input_mib} MiB input, ${key_mib} MiB key, $(mib "$text_bytes") MiB text, median of $runs runs"
printf '%-10s %10s %12s %14s %16s %6s\n' step "wall s" "x cp" "peak RSS MiB" "bound MiB" check
printf '%-10s %10.3f %12.2f %14s %16s %6s\n' encrypt "$enc_wall" \
  "$(awk -v a="$enc_wall" -v b="$cp_wall" 'BEGIN {print (b > 0) ? a / b : 0}')" \
  "$enc_peak" "$enc_bound" "$(verdict "$enc_peak" "$enc_bound")"
printf '%-10s %10.3f %12.2f %14s %16s %6s\n' decrypt "$dec_wall" \
  "$(awk -v a="$dec_wall" -v b="$cp_wall" 'BEGIN {print (b > 0) ? a / b : 0}')" \
  "$dec_peak" "$dec_bound" "$(verdict "$dec_peak" "$dec_bound")"
printf '%-10s %10.3f %12.2f %14s %16s %6s\n' "cp text" "$cp_wall" 1 "$cp_peak" "-" "-"
printf '%-10s %10.3f %12.2f %14s %16s %6s\n' "dd text" "$dd_wall" \
  "$(awk -v a="$dd_wall" -v b="$cp_wall" 'BEGIN {print (b > 0) ? a / b : 0}')" "-" "-" "-"
echo "encrypt / dd: $(awk -v a="$enc_wall" -v b="$dd_wall" 'BEGIN {printf "%.2f", (b > 0) ? a / b : 0}')"
