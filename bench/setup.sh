# shellcheck shell=bash disable=SC2154,SC2034  # $root comes from, and $work_is_temporary goes to, the caller
# What both benchmarks start with, sourced after they set $root: the peers
# and the timer installed, the program built when the path given (or
# build/sondrel) is not one yet, and the folder for the material.

# Sets $binary to the program's absolute path.
bench_program() {  # [path to sondrel]
  "$root/scripts/deps.sh" bench
  binary=${1:-$root/build/sondrel}
  if [ ! -x "$binary" ]; then
    cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
    cmake --build "$root/build" --target sondrel -j"$(nproc)" > /dev/null
  fi
  binary=$(realpath "$binary")
}

# Sets $work to BENCH_DIR, made if need be and kept, or to a new temporary
# folder; $work_is_temporary says which (the caller removes a temporary one).
bench_workdir() {
  work_is_temporary=""
  if [ -n "${BENCH_DIR:-}" ]; then
    work=$(realpath -m "$BENCH_DIR")
    mkdir -p "$work"
  else
    work=$(mktemp -d)
    work_is_temporary=1
  fi
}

track_name() { printf 't%03d.wav' "$1"; }

# Tracks 1 to `count` in `dir`, `seconds` long at `rate`, each its own tone,
# quiet enough that 256 of them sum without clipping, with plain 44-byte
# headers (sox's "wavpcm": ecasound refuses the extensible header sox writes
# for 24-bit files by default). Tracks of the right size are kept.
bench_make_tracks() {  # dir count seconds rate
  local t name want_bytes=$((44 + $4 * $3 * 3)) made=0
  for ((t = 1; t <= $2; t++)); do
    name=$1/$(track_name "$t")
    [ -f "$name" ] && [ "$(stat -c %s "$name")" -eq "$want_bytes" ] && continue
    sox -n -r "$4" -c 1 -b 24 -t wavpcm "$name" synth "$3" sine $((40 + 37 * t)) gain -50 &
    made=$((made + 1))
    ((made % $(nproc) == 0)) && wait
  done
  wait
  # Freshly written files are still waiting to reach the disk; a program
  # that syncs (a punch-in does) would otherwise pay for writing them.
  sync
}
