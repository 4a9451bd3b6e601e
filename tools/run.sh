#!/usr/bin/env bash
# Sets up, builds and runs Vemora.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
if [[ -x build/bin/Vemora ]]; then
  exec build/bin/Vemora "$@"
fi
echo "run: built the libraries into build/bin/; the Vemora window is not part of this build yet."
