#!/usr/bin/env bash
# Builds and runs every benchmark (speed targets are checked here, not in tests).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
for b in build/bin/bench_*; do
  [[ -x "$b" ]] || continue
  echo "== $b"
  (cd build/bin && "./$(basename "$b")" "$@")
done
