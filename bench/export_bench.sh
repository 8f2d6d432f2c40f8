#!/usr/bin/env bash
# Times "exp-i" of 16 and 64 tracks x 60 s at 48 kHz against sox merging the
# same files and summing them into both sides of a stereo 24-bit file, and
# prints both wall-clock times and their ratio.
# Usage: bench/export_bench.sh [path to sondrel]
set -euo pipefail
. "$(dirname "$0")/common.sh"
# At -40 dB even 64 tracks sum without clipping.
make_track -40

now() { date +%s.%N; }

# Wall-clock seconds of one export: start-up on the null device, the mix, the
# write, and the exit.
time_export() {  # tracks
  local tracks=$1
  printf 'dv\tnull\nsr\t48000\ninputs\t2\noutputs\t2\nch\t%s\nbuf\t960\nclock\thc\nint\t2\nmix\t1\ni\t0\no\t%s\n' \
    "$tracks" "$frames" > param.txt
  write_lists "$tracks"
  local start end
  start=$(now)
  HOME="$work/home" "$binary" <<< "exp-i mix c x" > /dev/null
  end=$(now)
  [ -s mix.wav ] || { echo "the export wrote no mix.wav" >&2; exit 1; }
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

# The same mix with sox: every track merged as a channel, then all of them
# summed into the left and into the right output.
time_sox() {  # tracks
  local tracks=$1 inputs=()
  for ((c = 1; c <= tracks; c++)); do inputs+=(track.wav); done
  local start end
  start=$(now)
  sox -M "${inputs[@]}" -b 24 -D sox_mix.wav remix "1-$tracks" "1-$tracks"
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}

for tracks in 16 64; do
  ours=$(time_export "$tracks")
  theirs=$(time_sox "$tracks")
  awk -v t="$tracks" -v a="$ours" -v b="$theirs" -v s="$seconds" 'BEGIN {
    if (a <= 0) a = 0.001;
    printf "%2d tracks x %d s: exp-i %6.3f s, sox %6.3f s, sox/exp-i = %5.2f\n", t, s, a, b, b / a }'
done
