#!/usr/bin/env bash
# Builds Sondrel and its virtual audio interface, makes demo-project/ with a
# few generated tracks and starts Sondrel in it. The interface runs in real
# time and wires every output back to the input of the same number, so
# playing, recording, punching in and exporting all work with no sound card.
#
# The interface is defined in demo-project/home/.asoundrc; Sondrel runs with
# HOME pointing there, so your own ALSA configuration is neither read nor
# changed. Standard input may be a pipe: `echo "p x" | scripts/demo.sh`.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target sondrel sondrel_vif >/dev/null
module="$root/build/vif/libasound_module_pcm_sondrel_vif.so"

project="$root/demo-project"
mkdir -p "$project/home"
cd "$project"

# Sixteen seconds at 120 beats per minute, mono 24-bit PCM at 48 kHz.
make_track() {
  local name=$1
  shift
  [ -f "$name" ] || sox -n -r 48000 -b 24 -c 1 -t wavpcm "$name" "$@"
}
make_track drums.wav synth 0.06 sine 900 fade 0 0.06 0.05 vol 0.7 pad 0 0.44 repeat 31
make_track bass.wav synth 16 sine 55 sine 82.5 remix - vol 0.4 tremolo 2 60
make_track keys.wav synth 16 sine 220 sine 277.2 remix - vol 0.3 tremolo 0.5 40

# Output k plays line k of play.txt; input k hears output k, so recording
# input 1 captures the drums as they were heard.
[ -f play.txt ] || printf 'drums.wav\nbass.wav\nkeys.wav\n' > play.txt
[ -f record.txt ] || printf 'vocal.wav\nguitar.wav\n' > record.txt
if [ ! -f param.txt ]; then
  # Play from 0 s, record from 2 s, stop at 8 s; 10 ms crossfades for "ins".
  printf 'dv\tvif\nsr\t48000\ninputs\t2\noutputs\t3\nch\t3\nbuf\t1024\nint\t1\n' > param.txt
  printf 'i\t0\no\t384000\ne\t96256\nxfade\t10.0\nodcomp\t5\n' >> param.txt
fi

# Paced: the interface keeps real time, like a sound card. Its shared file
# lives on a memory file system (on a disk the first mapping is slow enough
# for the run to start with an underrun), one for each run of this script,
# and goes when the run ends.
shm="${XDG_RUNTIME_DIR:-/dev/shm}/sondrel-demo-$$.vif"
trap 'rm -f "$shm"' EXIT
cat > home/.asoundrc <<EOF
pcm_type.sondrel_vif { lib "$module" }
pcm.vif {
  type sondrel_vif
  file "$shm"
  paced true
  latency 0
}
EOF

echo "Demo project: $project"
echo "Try: p (play), r (record), then ins at the take menu, exp-i (export), x (exit)."
HOME="$project/home" "$root/build/sondrel"
