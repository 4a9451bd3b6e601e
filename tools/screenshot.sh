#!/usr/bin/env bash
# Makes PNG screenshots of the Vemora window (idle, in the middle of a run,
# finished) on Qt's offscreen platform, with a stand-in of the process
# plug-in playing one run of the sample image.
# Usage: tools/screenshot.sh [output folder, default docs/screenshots]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshots}
[[ -d build ]] || tools/setup.sh
cmake --build build --target vemora_screenshots
LANG=${SCREENSHOT_LANG:-en_US.UTF-8} QT_QPA_PLATFORM=offscreen \
  build/tests/app/screenshots/vemora_screenshots "$out" | grep -v '^testproc: '
