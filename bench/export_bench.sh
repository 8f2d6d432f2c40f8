#!/usr/bin/env bash
# Times "exp-i" of 16 and 64 tracks x 60 s at 48 kHz against sox merging the
# same files and summing them into both sides of a stereo 24-bit file, and
# prints both wall-clock times and their ratio.
# Usage: bench/export_bench.sh [path to sondrel]
set -euo pipefail
cd "$(dirname "$0")/.."
binary=${1:-build/sondrel}
[ -x "$binary" ] || { echo "build the program first (scripts/test.sh or cmake --build build)" >&2; exit 1; }
binary=$(realpath "$binary")
command -v sox > /dev/null || { echo "sox is needed as the yardstick" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir home
# One 60 s track, named by every playlist line: the page cache serves it, so
# the figures are the mixing and writing, not the disk's reading. At -40 dB
# even 64 of them sum without clipping.
sox -n -r 48000 -b 24 -c 1 track.wav synth 60 sine 440 gain -40

seconds=60
frames=$((48000 * seconds))

now() { date +%s.%N; }

# Wall-clock seconds of one export: start-up on the null device, the mix, the
# write, and the exit.
time_export() {  # tracks
  local tracks=$1
  printf 'dv\tnull\nsr\t48000\ninputs\t2\noutputs\t2\nch\t%s\nbuf\t960\nclock\thc\nint\t2\nmix\t1\ni\t0\no\t%s\n' \
    "$tracks" "$frames" > param.txt
  : > record.txt
  : > play.txt
  for ((c = 1; c <= tracks; c++)); do echo track.wav >> play.txt; done
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
