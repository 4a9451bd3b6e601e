#!/usr/bin/env bash
# Sets up, builds with warnings as errors and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
VEMORA_WERROR=ON tools/setup.sh
ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 600
