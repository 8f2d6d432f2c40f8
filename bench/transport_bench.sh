#!/usr/bin/env bash
# Times 60 s play runs of 16 and 64 tracks at 48 kHz on ALSA's unpaced null
# device and reports seconds of audio played per second of CPU.
# Usage: bench/transport_bench.sh [path to sondrel]
set -euo pipefail
. "$(dirname "$0")/common.sh"
make_track -6

run() {  # tracks mixmode
  local tracks=$1 mode=$2
  printf 'dv\tnull\nsr\t48000\ninputs\t2\noutputs\t%s\nch\t%s\nbuf\t1024\nclock\thc\nmix\t%s\ni\t0\no\t%s\n' \
    "$tracks" "$tracks" "$mode" "$frames" > param.txt
  for ((b = 1; b <= 8; b++)); do
    list=""
    for ((c = b; c <= tracks; c += 8)); do list+="$c,"; done
    printf 'bus\t%s\t%s\n' "$b" "$list" >> param.txt
  done
  write_lists "$tracks"
  TIMEFORMAT='%U %S'
  local cpu
  cpu=$( { time HOME="$work/home" "$binary" <<< "p x" > /dev/null; } 2>&1 | tail -n 1)
  awk -v t="$tracks" -v m="$mode" -v s="$seconds" -v cpu="$cpu" 'BEGIN {
    split(cpu, a, " "); used = a[1] + a[2]; if (used <= 0) used = 0.001;
    printf "%3d tracks, mix mode %d: %6.2f s CPU for %d s of audio = %6.0f x real time\n", t, m, used, s, s / used }'
}

run 16 0
run 64 0
run 16 3
run 64 3
