#!/usr/bin/env bash
# Sondrel side by side with sox and ecasound on the same material, and with
# the floor of just reading the files.
#
# For N = 1, 16, 64 and 256 mono 24-bit 48 kHz tracks of 60 s each (files in
# the page cache) it times, alternating the programs in every round:
#   - a stereo mixdown with a gain and a pan per track: Sondrel's "exp-i",
#     sox (-M ... remix) and ecasound (one chain per track, -ea and -epp);
#   - playback on ALSA's unpaced "null" device: Sondrel in mix modes 0, 1
#     and 3 (8 busses), and ecasound mixing the tracks to stereo there;
#   - cat of the tracks to /dev/null, the floor.
# Then runs of a quarter, half and all of the length at N = 64, and a punch-in
# of a 10 s take into a 1 min and into a 60 min record file.
#
# It prints medians of wall-clock and CPU seconds, times real time, peak
# memory and the ratios. ecasound is compared by CPU time: its batch mode
# sleeps in 250 ms steps, so its wall time does not measure its work.
#
# Usage: bench/compare.sh [path to sondrel]
# Settings (environment): TRACK_COUNTS ("1 16 64 256"), TRACK_SECONDS (60),
# REPEATS (3), BENCH_DIR (keep the generated material there between runs;
# by default a temporary directory that is removed afterwards).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
counts=${TRACK_COUNTS:-"1 16 64 256"}
seconds=${TRACK_SECONDS:-60}
repeats=${REPEATS:-3}
rate=48000
frames=$((rate * seconds))
punch_seconds=10

# shellcheck source=bench/setup.sh
. "$root/bench/setup.sh"
bench_program "${1:-}"
bench_workdir
if [ -n "$work_is_temporary" ]; then trap 'rm -rf "$work"' EXIT; fi
cd "$work"
mkdir -p home out
results=$work/results.txt
: > "$results"

max_tracks=0
for n in $counts; do ((n > max_tracks)) && max_tracks=$n; done


# The kernel may let some of the page cache go between rounds (seen on
# virtual machines): every round starts from a warm cache.
warm_cache() {  # tracks
  for ((t = 1; t <= $1; t++)); do track_name "$t"; echo; done | xargs cat > /dev/null
}

# ---------------------------------------------------------------- material

# A gain (0 to -11 dB) and a pan (-100 .. 100) per track, the same for every
# program.
gain_db() { echo $((-(($1 * 7) % 12))); }
pan_of() { echo $(((($1 * 37) % 201) - 100)); }

# Linear left and right factors of a track, by the pan law the mixer uses
# (-3 dB at centre, the far side falling linearly), for sox's remix.
factors() {  # track
  awk -v g="$(gain_db "$1")" -v p="$(pan_of "$1")" 'BEGIN {
    c = 0.70794576; v = 10 ^ (g / 20)
    if (p == 0) { l = c; r = c }
    else if (p > 0) { l = (100 - p) * c / 100; r = 10 ^ (p * 3 / 100 / 20) * c }
    else { r = (p + 100) * c / 100; l = 10 ^ (-p * 3 / 100 / 20) * c }
    printf "%.6f %.6f", v * l, v * r }'
}

# ------------------------------------------------------------- the programs

# param.txt and the lists for N tracks; mode 0 plays each track on its own
# output, modes 1 and 3 on outputs 1 and 2.
sondrel_project() {  # tracks mixmode out_frames
  local n=$1 mode=$2 out=$3 outputs=2
  ((mode == 0)) && outputs=$n
  {
    printf 'dv\tnull\nsr\t%s\ninputs\t2\noutputs\t%s\nch\t%s\nbuf\t1024\nclock\thc\nint\t2\n' \
      "$rate" "$outputs" "$n"
    printf 'mix\t%s\ni\t0\no\t%s\n' "$mode" "$out"
    for ((t = 1; t <= n; t++)); do printf 'v\t%s\t%s\np\t%s\t%s\n' "$t" "$(gain_db "$t")" "$t" "$(pan_of "$t")"; done
    for ((b = 1; b <= 8; b++)); do
      local list=""
      for ((t = b; t <= n; t += 8)); do list+="$t,"; done
      printf 'bus\t%s\t%s\n' "$b" "$list"
    done
  } > param.txt
  : > record.txt
  for ((t = 1; t <= n; t++)); do track_name "$t"; echo; done > play.txt
}

sox_mix_command() {  # tracks
  local n=$1 inputs=() left="" right=""
  for ((t = 1; t <= n; t++)); do
    inputs+=("$(track_name "$t")")
    read -r l r <<< "$(factors "$t")"
    left+="${t}v$l,"
    right+="${t}v$r,"
  done
  # sox merges two or more inputs; a single one is read as it is.
  local combine=-M
  ((n == 1)) && combine=
  echo sox -V1 $combine "${inputs[@]}" -b 24 -t wavpcm out/sox_mix.wav remix "${left%,}" "${right%,}"
}

ecasound_command() {  # tracks output...
  local n=$1 args=()
  shift
  for ((t = 1; t <= n; t++)); do
    args+=("-a:$t" "-i:$(track_name "$t")" -chcopy:1,2 "-ea:$(awk -v g="$(gain_db "$t")" 'BEGIN { printf "%.3f", 100 * 10 ^ (g / 20) }')"
           "-epp:$((($(pan_of "$t") + 100) / 2))")
  done
  echo ecasound -q -z:mixmode,sum -f:s24_le,2,$rate "${args[@]}" -a:all "$@"
}

# Runs a command and records "N job wall cpu peak_kB". bash's own timer
# gives milliseconds (GNU time rounds to 10 ms); GNU time gives the peak
# resident size of the program it starts.
measure() {  # tracks job stdin command...
  local n=$1 job=$2 input=$3 TIMEFORMAT='%3R %3U %3S'
  shift 3
  { time /usr/bin/time -f '%M' -o "$work/peak.txt" "$@" <<< "$input" > /dev/null 2> "$work/err.txt"; } \
    2> "$work/time.txt" || { echo "$job failed:" >&2; cat "$work/err.txt" >&2; exit 1; }
  read -r wall user sys < "$work/time.txt"
  echo "$n $job $wall $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $(cat "$work/peak.txt")" >> "$results"
}

sondrel_export() {  # tracks out_frames job
  sondrel_project "$1" 1 "$2"
  measure "$1" "$3" "exp-i out/sondrel_mix c x" env HOME="$work/home" "$binary"
  [ -s out/sondrel_mix.wav ] || { echo "exp-i wrote nothing" >&2; exit 1; }
}

sondrel_play() {  # tracks mode out_frames job
  sondrel_project "$1" "$2" "$3"
  measure "$1" "$4" "p x" env HOME="$work/home" "$binary"
}

one_round() {  # tracks
  local n=$1 files=()
  for ((t = 1; t <= n; t++)); do files+=("$(track_name "$t")"); done
  warm_cache "$n"
  measure "$n" cat "" sh -c 'cat "$@" > /dev/null' sh "${files[@]}"
  sondrel_export "$n" "$frames" sondrel_export
  # shellcheck disable=SC2046
  measure "$n" sox_mix "" $(sox_mix_command "$n")
  # shellcheck disable=SC2046
  measure "$n" ecasound_mix "" $(ecasound_command "$n" -f:s24_le,2,$rate -o:out/eca_mix.wav)
  sondrel_play "$n" 0 "$frames" sondrel_play_mode0
  sondrel_play "$n" 1 "$frames" sondrel_play_mode1
  sondrel_play "$n" 3 "$frames" sondrel_play_mode3
  # shellcheck disable=SC2046
  measure "$n" ecasound_play "" $(ecasound_command "$n" -z:nodb -o:alsa,null)
}

# A 10 s take recorded on the null device (silence) and punched into the
# middle of a record file of the given length; the take's recording is the
# same in both, so the difference is the punch-in.
punch_round() {  # record_seconds
  local length=$1 name="song_$1.wav"
  if [ ! -f "$name" ]; then
    sox -n -r "$rate" -c 1 -b 24 -t wavpcm "$name" synth "$length" sine 220 gain -20
    sync
  fi
  cat "$name" > /dev/null
  local punch=$((rate * length / 2 / 1024 * 1024))
  printf 'dv\tnull\nsr\t%s\ninputs\t1\noutputs\t1\nch\t1\nbuf\t1024\nclock\thc\ne\t%s\no\t%s\n' \
    "$rate" "$punch" $((punch + rate * punch_seconds)) > param.txt
  echo "$name" > record.txt
  : > play.txt
  measure 1 "punch_into_${length}s" "R ins x" env HOME="$work/home" "$binary"
}

echo "Making $max_tracks tracks of $seconds s in $work ..."
bench_make_tracks "$work" "$max_tracks" "$seconds" "$rate"

for n in $counts; do
  for ((round = 1; round <= repeats; round++)); do one_round "$n"; done
done
# Cost against length: a quarter, half and all of the tracks, alternated.
if [[ " $counts " == *" 64 "* ]]; then
  for ((round = 1; round <= repeats; round++)); do
    warm_cache 64
    for part in 4 2 1; do
      sondrel_export 64 $((frames / part)) "length_${part}_export"
      sondrel_play 64 0 $((frames / part)) "length_${part}_play_mode0"
    done
  done
fi
for ((round = 1; round <= repeats; round++)); do
  punch_round 60
  punch_round 3600
done

# ------------------------------------------------------------------ report

awk -v seconds="$seconds" -v punch="$punch_seconds" '
  function median(key,   n, i, j, t, v) {
    n = split(samples[key], v, " ")
    for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
    return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
  }
  function ratio(a, b) { return b > 0 ? a / b : 0 }
  {
    key = $1 " " $2
    if (!(key in seen)) { seen[key] = 1; order[++rows] = key }
    samples[key " wall"] = samples[key " wall"] " " $3
    samples[key " cpu"] = samples[key " cpu"] " " $4
    samples[key " peak"] = samples[key " peak"] " " $5
  }
  END {
    printf "%5s  %-24s %9s %9s %10s %10s %9s\n", "N", "job", "wall s", "CPU s", "x rt wall", "x rt CPU", "peak MB"
    for (r = 1; r <= rows; r++) {
      key = order[r]; split(key, k, " ")
      wall[key] = median(key " wall"); cpu[key] = median(key " cpu"); peak[key] = median(key " peak")
      audio = seconds
      if (k[2] ~ /^length_/) { split(k[2], part, "_"); audio = seconds / part[2] }
      if (k[2] ~ /^punch/) audio = punch
      printf "%5d  %-24s %9.3f %9.3f %10.0f %10.0f %9.1f\n", k[1], k[2], wall[key], cpu[key],
        ratio(audio, wall[key]), ratio(audio, cpu[key]), peak[key] / 1024
    }
    print ""
    print "Ratios (medians):"
    for (r = 1; r <= rows; r++) {
      split(order[r], k, " "); n = k[1]
      if (k[2] != "sondrel_export") continue
      e = n " sondrel_export"
      printf "  N=%-3d sox mix / exp-i wall %6.2f   ecasound mix CPU / exp-i CPU %6.2f   exp-i / cat wall %6.2f" \
             "   ecasound play CPU / mode 0 CPU %6.2f   exp-i CPU per track %.4f s\n",
        n, ratio(wall[n " sox_mix"], wall[e]), ratio(cpu[n " ecasound_mix"], cpu[e]),
        ratio(wall[e], wall[n " cat"]), ratio(cpu[n " ecasound_play"], cpu[n " sondrel_play_mode0"]),
        ratio(cpu[e], n)
    }
    for (j = 1; j <= 2; j++) {
      job = j == 1 ? "export" : "play_mode0"
      if (!(("64 length_4_" job) in cpu)) continue
      q = cpu["64 length_4_" job]; h = cpu["64 length_2_" job]; f = cpu["64 length_1_" job]
      printf "  N=64  %-10s CPU for %g, %g and %g s: %.3f, %.3f, %.3f; added per %g s: %.3f then %.3f (equal is linear)\n",
        job, seconds / 4, seconds / 2, seconds, q, h, f, seconds / 4, h - q, (f - h) / 2
    }
    printf "  punch-in of %d s: into 60 min / into 1 min wall %.2f (%.3f s against %.3f s)\n", punch,
      ratio(wall["1 punch_into_3600s"], wall["1 punch_into_60s"]), wall["1 punch_into_3600s"], wall["1 punch_into_60s"]
    if (!(("64 sondrel_export") in wall)) exit
    print ""
    print "Targets at N = 64 (set for tracks of 60 s; shorter ones weigh start-up more):"
    verdict("exp-i at least 3x faster than the sox mix", ratio(wall["64 sox_mix"], wall["64 sondrel_export"]), ">=", 3)
    verdict("exp-i within 4x of the cat floor", ratio(wall["64 sondrel_export"], wall["64 cat"]), "<=", 4)
    verdict("play, mix mode 0, times real time (CPU)", ratio(seconds, cpu["64 sondrel_play_mode0"]), ">=", 300)
    verdict("play, mix mode 3, times real time (CPU)", ratio(seconds, cpu["64 sondrel_play_mode3"]), ">=", 100)
    if (("256 sondrel_export") in peak) {
      m = 0
      for (r = 1; r <= rows; r++) if (order[r] ~ /^256 sondrel/ && peak[order[r]] > m) m = peak[order[r]]
      verdict("peak memory at N = 256, MB", m / 1024, "<=", 64)
    }
    verdict("punch-in, 60 min file / 1 min file", ratio(wall["1 punch_into_3600s"], wall["1 punch_into_60s"]), "<=", 1.5)
  }
  function verdict(what, value, sense, target) {
    met = sense == ">=" ? value >= target : value <= target
    printf "  %-45s %8.2f  (target %s %s)  %s\n", what, value, sense, target, met ? "met" : "NOT MET"
  }' "$results"
