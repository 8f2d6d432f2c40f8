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
