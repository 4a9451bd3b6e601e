#!/usr/bin/env bash
# Builds and runs every benchmark (speed targets are checked here, not in
# tests), then the soak (tools/soak.sh). A benchmark that misses its target
# exits non-zero; the others still run, and the failures are listed at the
# end.
set -uo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh || exit 1
failed=()
ran=0
for b in build/bin/bench_*; do
  [[ -x "$b" ]] || continue
  name=$(basename "$b")
  echo "== $name"
  (cd build/bin && "./$name" "$@") || failed+=("$name")
  ((ran += 1))
done
# The soak: 1000 boards through vemora-cli, memory and descriptors flat.
echo "== soak"
tools/soak.sh || failed+=(soak)
((ran += 1))
echo "benchmarks: $((ran - ${#failed[@]})) passed, ${#failed[@]} failed"
for name in "${failed[@]}"; do
  echo "  failed: $name"
done
((${#failed[@]} == 0))
