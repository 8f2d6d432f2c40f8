#!/usr/bin/env bash
# Installs what building and testing needs, when it is missing.
# Usage: scripts/deps.sh [bench]
set -euo pipefail

packages=(g++ cmake make pkg-config libasound2-dev libgtest-dev libbenchmark-dev sox
          sndfile-programs  # sndfile-info and friends check the files we write
          clang libclang-rt-dev  # clang and its libFuzzer runtime, for the fuzz targets
          python3)  # scripts/mutants.py, the mutation check
# The sound servers the tests run Sondrel on, with ALSA's PCMs for them;
# installed without their recommendations (control panels, session
# managers): the tests start the servers themselves.
servers=(jackd2 libasound2-plugins pipewire pipewire-bin pipewire-alsa)
# "deps.sh bench": also the peers and the timer that the scripts in bench/ use.
if [ "${1:-}" = bench ]; then packages+=(ecasound time); fi
missing=()
missing_servers=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
for p in "${servers[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing_servers+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_servers[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]} ${missing_servers[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]} ${missing_servers[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]} ${missing_servers[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
[ ${#missing[@]} -eq 0 ] || apt-get install -y -qq "${missing[@]}" >/dev/null
[ ${#missing_servers[@]} -eq 0 ] || apt-get install -y -qq --no-install-recommends "${missing_servers[@]}" >/dev/null
