#!/usr/bin/env bash
# Checks that the program's source folders stay layered. Lowest first:
#   core timebase wavfile mixer engine console app
# (the same order as cmake/SondrelSources.cmake). A .cpp or .h file may
# include headers of its own folder and of the folders before it; an
# include of a folder after it is reported as file:line and the include,
# and the script exits 1. System includes (<...>) are not looked at.
#
# Usage: scripts/check_layers.sh [root]     (default: this checkout)
#        scripts/check_layers.sh --self-test
set -euo pipefail
layers=(core timebase wavfile mixer engine console app)

if [ "${1:-}" = --self-test ]; then
  # A tree with one include of each kind: only the upward one may be found.
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  mkdir -p "$tmp"/{core,mixer,engine}
  printf '#include "core/a.h"\n#include <vector>\n' >"$tmp/mixer/down.cpp"
  printf '#include "mixer/down.h"\n#include "b.h"\n' >"$tmp/mixer/same.cpp"
  printf '#include "core/a.h"\n  #  include "../engine/up.h"\n' >"$tmp/mixer/up.h"
  printf '// #include "engine/x.h" in a comment is no include\n' >"$tmp/core/a.h"
  out=$("$0" "$tmp" 2>&1) && { echo "self-test: an upward include passed" >&2; exit 1; }
  expected='mixer/up.h:2: includes "../engine/up.h" (engine is above mixer)'
  if [ "$(grep -c ": includes " <<<"$out")" -ne 1 ] || ! grep -qF "$expected" <<<"$out"; then
    printf 'self-test: expected only\n  %s\ngot\n%s\n' "$expected" "$out" >&2
    exit 1
  fi
  rm -f "$tmp/mixer/up.h"
  "$0" "$tmp" >/dev/null || { echo "self-test: a clean tree failed" >&2; exit 1; }
  echo "layers self-test: ok"
  exit 0
fi

cd "${1:-$(dirname "$0")/..}"
files=()
for dir in "${layers[@]}"; do
  [ -d "$dir" ] || continue
  while IFS= read -r -d '' f; do files+=("$f"); done \
    < <(find "$dir" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z)
done
[ ${#files[@]} -gt 0 ] || { echo "layers: no sources found in $(pwd)" >&2; exit 1; }

awk -v order="${layers[*]}" -v nfiles="${#files[@]}" '
BEGIN { n = split(order, names, " "); for (i = 1; i <= n; i++) rank[names[i]] = i }
# The folder a quoted include lands in: paths are written from the root
# ("engine/x.h"); a bare name is beside the including file; "../" climbs
# from the including file'"'"'s folder.
function target_layer(file, inc,   parts, more, np, i, k) {
  if (index(inc, "/") == 0) return ""
  if (inc !~ /^\.\.?\//) { split(inc, parts, "/"); return parts[1] }
  np = split(file, parts, "/")
  k = np - 1                                # drop the file name
  np = split(inc, more, "/")
  for (i = 1; i <= np; i++) {
    if (more[i] == "..") { if (--k < 0) return "" }
    else if (more[i] != ".") parts[++k] = more[i]
  }
  return k > 0 ? parts[1] : ""
}
FNR == 1 { split(FILENAME, p, "/"); own = p[1] }
/^[ \t]*#[ \t]*include[ \t]*"/ {
  inc = $0
  sub(/^[^"]*"/, "", inc); sub(/".*$/, "", inc)
  layer = target_layer(FILENAME, inc)
  if (layer in rank && rank[layer] > rank[own]) {
    printf "%s:%d: includes \"%s\" (%s is above %s)\n", FILENAME, FNR, inc, layer, own
    bad++
    if (!(FILENAME in seen)) { seen[FILENAME] = 1; badfiles++ }
  }
}
END {
  if (bad) {
    printf "layers: %d upward includes in %d of %d files\n", bad, badfiles, nfiles
    exit 1
  }
  printf "layers: ok (%d files checked)\n", nfiles
}' "${files[@]}"
