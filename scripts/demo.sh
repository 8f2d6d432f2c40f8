#!/usr/bin/env bash
# Builds Sondrel and starts it in a demo project that uses ALSA's "null"
# device, so it runs on a machine without a sound card.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target sondrel >/dev/null

project=demo-project
mkdir -p "$project"
cd "$project"
if [ ! -f param.txt ]; then
  printf 'dv\tnull\nsr\t48000\ninputs\t2\noutputs\t2\nch\t4\nbuf\t1024\n' > param.txt
fi
[ -f record.txt ] || printf 'vocal.wav\nguitar.wav\n' > record.txt
[ -f play.txt ] || : > play.txt
echo "Demo project: $(pwd)"
exec ../build/sondrel
