# Shared set-up of the whole-program benchmarks: sourced, not run.
# Resolves the program (first argument, or build/sondrel), moves into a
# temporary project with its own HOME and makes one 60 s track at 48 kHz.
# Every playlist line names that one track: the page cache serves it, so the
# figures are the program's own work, not the disk's.
cd "$(dirname "$0")/.."
binary=${1:-build/sondrel}
[ -x "$binary" ] || { echo "build the program first (scripts/test.sh or cmake --build build)" >&2; exit 1; }
binary=$(realpath "$binary")
command -v sox > /dev/null || { echo "sox is needed to make the test track" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir home

seconds=60
frames=$((48000 * seconds))

make_track() {  # gain in dB
  sox -n -r 48000 -b 24 -c 1 track.wav synth "$seconds" sine 440 gain "$1"
}

write_lists() {  # tracks
  : > record.txt
  : > play.txt
  for ((c = 1; c <= $1; c++)); do echo track.wav >> play.txt; done
}
