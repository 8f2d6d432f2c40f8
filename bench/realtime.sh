#!/usr/bin/env bash
# Sondrel and ecasound in real time on the project's virtual audio interface,
# paced so that its clock follows real time like a sound card (48 kHz, a
# cable of latency 0, every output wired to the input of the same number).
# The interface is defined in an .asoundrc in a HOME of the benchmark's own,
# as scripts/demo.sh does.
#
# For N = 8, 64 and 256 mono 24-bit tracks it finds, for each program, the
# smallest period (16, 32, ... 4096 frames) at which RUNS runs of RUN_SECONDS
# in a row go without an xrun:
#   - play: the N tracks, each with a gain and a pan, mixed to the stereo
#     outputs 1 and 2. Sondrel plays them in mix mode 1 (the words "p x");
#     ecasound runs a chain per track (-chcopy, -ea, -epp) summed
#     (-z:mixmode,sum) into one stereo ALSA output.
#   - play + record: the same, while min(N, 64) inputs are recorded, each to
#     its own mono 24-bit file. Sondrel records with "r_t x" (a preset take
#     name, so no take menu); ecasound reads the inputs once into a chain per
#     input (-chorder) writing its own file.
# Every search runs without load and again under load: CPU_HOGS busy shell
# loops and a writer looping dd of DISK_MB MB (1 MB blocks) with conv=fsync
# to a file beside the project, started before the search and stopped after
# it.
# For each row Sondrel is searched first, then ecasound.
# Then a stall: a 64-track play + record run of Sondrel is stopped with
# SIGSTOP for 200 ms half way through and continued, and the xruns it reports
# are counted. Last, the power-cut window: in a 64-track play + record run
# at period 64, at each load, how much of a take was at worst not yet on the
# disk (bench/sync_window.py, which needs root for its kernel tracing), and
# how late the machine woke a real-time probe meanwhile (bench/wake_probe.py).
#
# The search starts from a guess (what passed with fewer tracks, without
# load or for play alone, else GUESS), steps down while a period passes and
# up while it fails. A period fails at the first run with an xrun, which is
# stopped at once; a passing one costs RUNS whole runs. With the defaults
# the benchmark takes about an hour.
#
# How an xrun shows:
#   - Sondrel prints a line "PX" (playback underrun) or "RX" (capture
#     overrun) when it happens and "Play Underruns = N" / "Record Overruns = N"
#     after the run. Its output goes through stdbuf -oL, line-buffered as on
#     a terminal, so the marks show while the run goes.
#   - ecasound prints "WARNING: ALSA playback underrun ..." or "WARNING: ALSA
#     recording overrun ..." and, when it closes, "there were N underruns".
#     It may also abort in ALSA's plug layer after an xrun, or stop moving:
#     a run that has not ended RUN_SECONDS + HANG_GRACE after its start, or
#     that ends with another status than 0, counts as an xrun too.
# A run that cannot set up at all (device, files), ends sooner than its
# length or leaves fewer takes than inputs stops the benchmark.
#
# Each program sets its own priority as it does by default: where allowed
# (as root, or with the limits for it) Sondrel runs its loop at SCHED_FIFO
# and ecasound raises its own to real time too. Sondrel asks for a buffer of
# 4 periods; ecasound's
# low-latency mode (-B:rtlowlatency, also what it picks by itself for play
# alone) asks for 3. ecasound reaches the interface through an ALSA "plug"
# PCM, which converts its interleaved samples.
#
# The tracks (RUN_SECONDS + 1 s each, plain 44-byte headers) are read into
# the page cache before every search; takes are written beside them and
# deleted after each run. The output of the last run of each program, track
# count, kind and period is kept in logs/ of the work directory.
#
# Usage: bench/realtime.sh [path to sondrel]
# Settings (environment): TRACK_COUNTS ("8 64 256"; empty runs the stall
# alone), RUN_SECONDS (20), RUNS (3), PERIODS ("16 32 64 128 256 512 1024
# 2048 4096", ascending), GUESS (256, the first search's start), MAX_INPUTS
# (64), LOADS ("none load", either or both), CPU_HOGS (2), DISK_MB (3000),
# HANG_GRACE (10 s), STALL_TRACKS (64, 0 skips the stall), STALL_PERIOD
# (256), STALL_MS (200), WINDOW_TRACKS (64, 0 skips the power-cut window),
# WINDOW_PERIOD (64), VIF_MODULE (the interface's ALSA module; by default
# the one built beside the program, else in build/), BENCH_DIR (keep the
# generated tracks and the logs there between runs; by default a temporary
# directory that is removed afterwards).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
counts=${TRACK_COUNTS-"8 64 256"}
run_seconds=${RUN_SECONDS:-20}
runs=${RUNS:-3}
read -r -a periods <<< "${PERIODS:-"16 32 64 128 256 512 1024 2048 4096"}"
guess=${GUESS:-256}
max_inputs=${MAX_INPUTS:-64}
loads=${LOADS-"none load"}
cpu_hogs=${CPU_HOGS:-2}
disk_mb=${DISK_MB:-3000}
grace=${HANG_GRACE:-10}
stall_tracks=${STALL_TRACKS:-64}
stall_period=${STALL_PERIOD:-256}
stall_ms=${STALL_MS:-200}
window_tracks=${WINDOW_TRACKS:-64}
window_period=${WINDOW_PERIOD:-64}
rate=48000

# shellcheck source=bench/setup.sh
. "$root/bench/setup.sh"
bench_program "${1:-}"
module_name=libasound_module_pcm_sondrel_vif.so
module=${VIF_MODULE:-$(dirname "$binary")/vif/$module_name}
if [ ! -f "$module" ]; then
  module=$root/build/vif/$module_name
  if [ ! -f "$module" ]; then
    cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
    cmake --build "$root/build" --target sondrel_vif -j"$(nproc)" > /dev/null
  fi
fi
module=$(realpath "$module")

bench_workdir
project=$work/project
home=$work/home
logs=$work/logs
mkdir -p "$project" "$home" "$logs"
fill=$work/load.bin  # the disk writer's file, on the project's disk
# The interface's shared memory is a file mapped by both streams. On a disk
# its pages would be written back and throttled with the disk writer's, a
# stall no sound card has: it goes on a memory file system, as the
# interface asks.
shared_file=${XDG_RUNTIME_DIR:-/dev/shm}/sondrel-bench-$$.vif

# ------------------------------------------------------- cleaning up

program_pid=""
load_pids=()
watchers=()

# Ends the program under test: SIGTERM (Sondrel then finishes its takes),
# SIGKILL after 3 s or at once when asked. The shell's own "Killed" notice
# goes nowhere.
stop_program() {  # [signal]
  [ -n "$program_pid" ] || return 0
  local i
  kill -"${1:-TERM}" "$program_pid" || true
  for ((i = 0; i < 30; i++)); do
    kill -0 "$program_pid" || break
    sleep 0.1
  done
  kill -KILL "$program_pid" || true
  wait "$program_pid" || true
  program_pid=""
} 2> /dev/null

stop_load() {
  ((${#load_pids[@]})) || return 0
  kill -TERM "${load_pids[@]}" 2> /dev/null || true
  wait "${load_pids[@]}" 2> /dev/null || true
  load_pids=()
  rm -f "$fill"
}

remove_takes() {
  rm -f "$project"/in_*_t.wav "$project"/eca_in_*.wav "$project/recording.takes" "$shared_file"
}

cleanup() {
  trap '' INT TERM HUP  # a second Ctrl-C must not cut the cleaning short
  stop_program
  stop_load
  for pid in "${watchers[@]}"; do kill -TERM "$pid" 2> /dev/null && wait "$pid" 2> /dev/null; done
  rm -f "$shared_file"
  if [ -n "$work_is_temporary" ]; then
    rm -rf "$work"
  else
    remove_takes
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

die() {
  echo "$*" >&2
  exit 1
}

# ------------------------------------------------------------ the load

start_load() {
  local h
  for ((h = 0; h < cpu_hogs; h++)); do
    sh -c 'while :; do :; done' &
    load_pids+=($!)
  done
  (
    writer=""
    trap '[ -n "$writer" ] && kill "$writer" 2> /dev/null; wait 2> /dev/null; rm -f "$fill"; exit 0' TERM
    while :; do
      dd if=/dev/zero of="$fill" bs=1M count="$disk_mb" conv=fsync status=none &
      writer=$!
      wait "$writer" || true
      rm -f "$fill"
    done
  ) &
  load_pids+=($!)
}

# ------------------------------------------------------------ material

max_tracks=0
for n in $counts; do ((n > max_tracks)) && max_tracks=$n; done
((stall_tracks > max_tracks)) && max_tracks=$stall_tracks
((window_tracks > max_tracks)) && max_tracks=$window_tracks
((max_tracks > 256)) && die "At most 256 tracks: the interface and Sondrel have 256 channels."
((max_inputs >= 1 && max_inputs <= 256)) || die "MAX_INPUTS must be 1 to 256."
((${#periods[@]} > 0)) || die "PERIODS is empty."
for ((p = 1; p < ${#periods[@]}; p++)); do
  ((periods[p] > periods[p - 1])) || die "PERIODS must be ascending."
done
for load in $loads; do
  [ "$load" = none ] || [ "$load" = load ] || die "LOADS takes none and load."
done
track_seconds=$((run_seconds + 1))
out_point=$((rate * run_seconds))

inputs_for() { echo $(($1 < max_inputs ? $1 : max_inputs)); }

warm_cache() {  # tracks
  local t
  for ((t = 1; t <= $1; t++)); do printf '%s/t%03d.wav\n' "$project" "$t"; done | xargs cat > /dev/null
}

# A gain (0 to -11 dB) and a pan (-100 .. 100) per track, as in compare.sh,
# worked out once: ecasound takes the gain as a percentage (-ea) and the pan
# as 0 .. 100 (-epp).
gains=() pans=() percents=()
mapfile -t percent_of_db < <(awk 'BEGIN { for (g = 0; g < 12; g++) printf "%.3f\n", 100 * 10 ^ (-g / 20) }')
for ((t = 1; t <= max_tracks; t++)); do
  gains[t]=$((-((t * 7) % 12)))
  pans[t]=$((((t * 37) % 201) - 100))
  percents[t]=${percent_of_db[-gains[t]]}
done

# The paced interface for Sondrel ("vif": non-interleaved, packed 24-bit, as
# it asks) and the same behind a plug converter for ecasound ("vifplug").
# Playback opens 2 channels, capture up to MAX_INPUTS.
cat > "$home/.asoundrc" <<EOF
pcm_type.sondrel_vif { lib "$module" }
pcm.vif {
  type sondrel_vif
  file "$shared_file"
  paced true
  latency 0
  channels $((max_inputs > 2 ? max_inputs : 2))
}
pcm.vifplug {
  type plug
  slave.pcm "vif"
}
EOF

# ------------------------------------------------------------ the programs

# param.txt and the lists for N tracks in mix mode 1 (the stereo mix on
# outputs 1 and 2) and min(N, MAX_INPUTS) inputs, all from 0 to RUN_SECONDS.
sondrel_project() {  # tracks period
  local n=$1 period=$2 inputs t k
  inputs=$(inputs_for "$n")
  {
    printf 'dv\tvif\nsr\t%s\ninputs\t%s\noutputs\t2\nch\t%s\nbuf\t%s\n' "$rate" "$inputs" "$n" "$period"
    printf 'clock\thc\nsafe\t0\nmix\t1\ni\t0\ne\t0\no\t%s\n' "$out_point"
    for ((t = 1; t <= n; t++)); do printf 'v\t%s\t%s\np\t%s\t%s\n' "$t" "${gains[t]}" "$t" "${pans[t]}"; done
  } > "$project/param.txt"
  for ((t = 1; t <= n; t++)); do track_name "$t"; echo; done > "$project/play.txt"
  for ((k = 1; k <= inputs; k++)); do printf 'in_%03d.wav\n' "$k"; done > "$project/record.txt"
}

# The ecasound command line, one word per line: a chain per track with its
# gain and pan into the stereo output and, for play + record, the inputs
# read once and split to a chain and a mono file each.
ecasound_command() {  # tracks period kind
  local n=$1 period=$2 kind=$3 chains="" inputs t k
  echo ecasound
  printf '%s\n' -q -B:rtlowlatency -z:mixmode,sum "-b:$period" "-t:$run_seconds"
  for ((t = 1; t <= n; t++)); do
    printf -- '-a:p%s\n-i:t%03d.wav\n-chcopy:1,2\n-ea:%s\n-epp:%s\n' "$t" "$t" "${percents[t]}" $(((pans[t] + 100) / 2))
    chains+="p$t,"
  done
  printf '%s\n' "-a:${chains%,}" "-f:s24_le,2,$rate" -o:alsa,vifplug
  [ "$kind" = record ] || return 0
  inputs=$(inputs_for "$n")
  chains=""
  for ((k = 1; k <= inputs; k++)); do chains+="r$k,"; done
  printf '%s\n' "-a:${chains%,}" "-f:s24_le,$inputs,$rate" -i:alsa,vifplug
  for ((k = 1; k <= inputs; k++)); do
    printf -- '-a:r%s\n-chorder:%s\n-f:s24_le,1,%s\n-o:eca_in_%03d.wav\n' "$k" "$k" "$rate" "$k"
  done
}

now_ms() { local t=${EPOCHREALTIME//[!0-9]/}; echo $((10#$t / 1000)); }

# Counts the xrun reports in a run's output.
sondrel_marks() { tr '\r' '\n' < "$1" | grep -acE '^(PX|RX)$' || true; }
ecasound_marks() { grep -acE 'WARNING: ALSA (playback underrun|recording overrun)' "$1" || true; }

# One run. Sets `verdict` (clean, xrun, hung or "exit N"), `marks` (the
# xrun reports counted), `ending` (how the process ended) and `log`. With
# stop_on_xrun the run is ended at the first report; stall_ms > 0 stops the
# process that long half way through.
run_once() {  # program tracks kind period stop_on_xrun stall_ms [log name]
  local program=$1 n=$2 kind=$3 period=$4 stop_on_xrun=$5 stall=$6
  local input="" start now limit stalled=0 status=0 pause inputs
  log=$logs/${7:-$program-$n-$kind-$period}.txt
  pause=$(awk -v ms="$stall" 'BEGIN { printf "%.3f", ms / 1000 }')
  inputs=$(inputs_for "$n")
  remove_takes
  if [ "$program" = sondrel ]; then
    input="p x"
    [ "$kind" = record ] && input="r_t x"
    sondrel_project "$n" "$period"
    local command=(stdbuf -oL "$binary")
  else
    local command=()
    mapfile -t command < <(ecasound_command "$n" "$period" "$kind")
    command=(stdbuf -oL "${command[@]}")
  fi
  start=$(now_ms)
  limit=$((start + (run_seconds + grace) * 1000))
  (cd "$project" && HOME=$home exec "${command[@]}" <<< "$input" > "$log" 2>&1) &
  program_pid=$!
  verdict=clean
  while kill -0 "$program_pid" 2> /dev/null; do
    sleep 0.2
    now=$(now_ms)
    if ((stall > 0 && !stalled && now - start >= run_seconds * 500)); then
      kill -STOP "$program_pid"
      sleep "$pause"
      kill -CONT "$program_pid"
      stalled=1
    fi
    if ((stop_on_xrun)) && [ "$("${program}_marks" "$log")" -gt 0 ]; then
      verdict=xrun
      break
    fi
    if ((now > limit)); then
      verdict=hung
      break
    fi
  done
  if [ "$verdict" != clean ]; then
    ending="stopped by the benchmark"
    if [ "$verdict" = hung ]; then
      ending="still running after $((run_seconds + grace)) s, killed"
      stop_program KILL
    else
      stop_program
    fi
  else
    wait "$program_pid" || status=$?
    program_pid=""
    now=$(now_ms)
    ending="ended with status $status after $(((now - start) / 1000)).$((((now - start) % 1000) / 100)) s"
  fi
  marks=$("${program}_marks" "$log")
  if [ "$program" = sondrel ]; then
    grep -aq 'Playing' "$log" || { cat "$log" >&2; die "Sondrel did not start its run (output above)."; }
  else
    ! grep -aq 'Connecting chainsetup failed' "$log" || { cat "$log" >&2; die "ecasound could not set up (output above)."; }
  fi
  if [ "$verdict" = clean ]; then
    if ((status != 0)); then
      verdict="exit $status"
    elif ((marks > 0)) || grep -aqE '(Play Underruns|Record Overruns) = |there were [0-9]+ (under|over)runs' "$log"; then
      verdict=xrun
    elif ((now - start < run_seconds * 1000 - 500)); then
      # The paced clock cannot run faster than real time.
      cat "$log" >&2
      die "$program $ending, sooner than the run's $run_seconds s (output above)."
    elif [ "$kind" = record ]; then
      local takes
      takes=$(find "$project" -maxdepth 1 \( -name 'in_*_t.wav' -o -name 'eca_in_*.wav' \) | wc -l)
      ((takes == inputs)) || die "$program wrote $takes takes instead of $inputs (output in $log)."
    fi
  fi
  remove_takes
}

# ------------------------------------------------------------ the search

declare -A result

# True when RUNS runs in a row at the period go without an xrun.
passes() {  # program tracks kind period label
  local r
  printf '  %-28s %-8s period %4s:' "$5" "$1" "$4"
  for ((r = 1; r <= runs; r++)); do
    run_once "$1" "$2" "$3" "$4" 1 0
    if [ "$verdict" != clean ]; then
      local reports=""
      ((marks > 0)) && reports=" ($marks xrun reports)"
      echo " run $r $verdict$reports - fails"
      return 1
    fi
    printf ' %s' "$r"
  done
  echo " - passes"
}

index_of() {  # period: the index of the first listed period at or above it
  local i
  for ((i = 0; i < ${#periods[@]}; i++)); do
    ((periods[i] >= $1)) && { echo "$i"; return; }
  done
  echo $((${#periods[@]} - 1))
}

# Where to start: the largest result a smaller task gave (fewer tracks, no
# load, play alone), as the period needed only grows with the work; GUESS
# for the first.
start_period() {  # program load tracks kind
  local start=0 key value
  for key in "$1 $2 $previous_count $4" "$1 none $3 $4" "$1 $2 $3 play"; do
    [ "$key" = "$1 $2 $3 $4" ] && continue
    value=${result[$key]:-}
    [ -n "$value" ] || continue
    [ "$value" = fails ] && value=${periods[-1]}
    ((value > start)) && start=$value
  done
  ((start > 0)) || start=$guess
  echo "$start"
}

search() {  # program load tracks kind
  local label="$2, $3 tracks, ${4/record/play+record}" i best
  i=$(index_of "$(start_period "$@")")
  if passes "$1" "$3" "$4" "${periods[i]}" "$label"; then
    best=${periods[i]}
    while ((i > 0)) && passes "$1" "$3" "$4" "${periods[i - 1]}" "$label"; do
      i=$((i - 1))
      best=${periods[i]}
    done
  else
    best=fails
    while ((i + 1 < ${#periods[@]})); do
      i=$((i + 1))
      if passes "$1" "$3" "$4" "${periods[i]}" "$label"; then
        best=${periods[i]}
        break
      fi
    done
  fi
  result["$1 $2 $3 $4"]=$best
}

# ------------------------------------------------------------ the runs

cd "$project"
echo "Making $max_tracks tracks of $track_seconds s in $project ..."
bench_make_tracks "$project" "$max_tracks" "$track_seconds" "$rate"

echo "Sondrel: $binary"
echo "ecasound: $(ecasound --version | head -1)"
echo "Interface: $module (paced, 48 kHz, latency 0)"
echo "Runs: $runs of $run_seconds s per period; periods ${periods[*]}; loads: $loads"
for load in $loads; do
  previous_count=0
  for n in $counts; do
    for kind in play record; do
      for program in sondrel ecasound; do
        warm_cache "$n"
        [ "$load" = load ] && start_load
        search "$program" "$load" "$n" "$kind"
        stop_load
      done
    done
    previous_count=$n
  done
done

stall_line=""
if ((stall_tracks > 0)); then
  warm_cache "$stall_tracks"
  run_once sondrel "$stall_tracks" record "$stall_period" 0 "$stall_ms" stall
  px=$(tr '\r' '\n' < "$log" | grep -acx 'PX' || true)
  rx=$(tr '\r' '\n' < "$log" | grep -acx 'RX' || true)
  summary=$(grep -aoE '(Play Underruns|Record Overruns) = [0-9]+' "$log" | paste -sd, - | sed 's/,/, /g')
  stall_line="Stall: SIGSTOP for $stall_ms ms half way through a $stall_tracks-track play + record run"
  stall_line+=" of Sondrel ($(inputs_for "$stall_tracks") inputs, period $stall_period): $px PX and $rx RX marks"
  stall_line+="${summary:+ ($summary)}; it $ending"
fi

# What a power cut would cost: the worst stretch of a take not yet on the
# disk, from bench/sync_window.py watching the first take and the syncs,
# in a play + record run at each load. Beside it bench/wake_probe.py tells
# how late the machine itself woke real-time threads meanwhile: an xrun
# while the probe waited longer than the buffer is the machine's.
window_lines=()
if ((window_tracks > 0)); then
  for load in $loads; do
    warm_cache "$window_tracks"
    [ "$load" = load ] && start_load
    "$root/bench/sync_window.py" "$project/in_001_t.wav" "$rate" "$work/window.txt" &
    watchers=($!)
    "$root/bench/wake_probe.py" "$work/probe.txt" &
    watchers+=($!)
    sleep 0.5  # its tracing on before the run starts
    run_once sondrel "$window_tracks" record "$window_period" 0 0 "window-$load"
    for pid in "${watchers[@]}"; do
      kill -TERM "$pid" 2>/dev/null || true  # it may have ended already, saying why
      wait "$pid" || true
    done
    watchers=()
    stop_load
    line="Power cut, $([ "$load" = none ] && echo no load || echo CPU+disk), $window_tracks tracks,"
    line+=" $(inputs_for "$window_tracks") inputs, period $window_period: $(cat "$work/window.txt")"
    window_lines+=("$line; $marks xrun reports, it $ending; $(cat "$work/probe.txt")")
  done
fi

# ------------------------------------------------------------ report

echo
echo "Smallest period in frames with no xrun in $runs of $runs runs of $run_seconds s"
echo "(paced virtual interface, 48 kHz; \"fails\": even ${periods[-1]} has xruns)"
echo
printf '%-8s %6s  %-12s %8s %9s\n' load tracks run Sondrel ecasound
for load in $loads; do
  for n in $counts; do
    for kind in play record; do
      name=play
      [ "$kind" = record ] && name=play+record
      printf '%-8s %6s  %-12s %8s %9s\n' "$([ "$load" = none ] && echo none || echo CPU+disk)" "$n" "$name" \
        "${result["sondrel $load $n $kind"]}" "${result["ecasound $load $n $kind"]}"
    done
  done
done
if [ -n "$stall_line" ]; then
  echo
  echo "$stall_line"
fi
if ((${#window_lines[@]})); then
  echo
  printf '%s\n' "${window_lines[@]}"
fi
