#!/usr/bin/env bash
# Checks that the source folders include only downwards, then builds and
# runs every test twice: a normal build, then one with AddressSanitizer and
# UndefinedBehaviorSanitizer. Warnings are errors in every build here.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/check_layers.sh  # fails in a moment, before minutes of building
scripts/deps.sh

jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONDREL_WERROR=ON
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure --no-tests=error -j"$jobs"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSONDREL_SANITIZE=ON -DSONDREL_WERROR=ON
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure --no-tests=error -j"$jobs"
scripts/fuzz.sh  # every fuzz target for FUZZ_SECONDS (default 20) seconds
