#!/usr/bin/env bash
# Prints the non-blank lines of the tests (everything under tests/, the fuzz
# targets included) against those of the program (its layer folders and
# the virtual audio interface), and the ratio the project keeps at about a
# third at most.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { find "$@" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 cat | grep -c .; }
tests=$(count tests)
program=$(count core timebase wavfile mixer engine console app vif)
echo "tests $tests lines, program $program lines: $((100 * tests / program)) %"
