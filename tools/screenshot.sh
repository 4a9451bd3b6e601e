#!/usr/bin/env bash
# Makes PNG screenshots of the Vemora window flashing the sample image into a
# simulated board, on an X display of its own (Xvfb): window-running.png in
# the middle of the run, window-finished.png at its end. The program is the
# test copy of Vemora, which saves them itself (tests/app/RunWatcher.h), with
# the real VemoProc.Plg and its libraries in a program folder of its own; the
# board's link is slowed so that the run lasts a few seconds.
# Usage: tools/screenshot.sh [output folder, default docs/screenshots]
#        SCREENSHOT_LANG=de_DE.UTF-8 tools/screenshot.sh   (another language)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/screenshots}")
if [[ ! -d build ]] || ! command -v Xvfb > /dev/null; then
  tools/setup.sh
fi
cmake --build build --target vemora_probe vemoproc usbwire scriptbase blockcrypt imgdec_fun \
  pluginhub langhub vemora_lan sample_image vemora_simdrv vemora_simdev
bin=$PWD/build/bin

work=$(mktemp -d)
xvfb=
cleanup() {
  [[ -z $xvfb ]] || kill "$xvfb" 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The window shows the image's path: a neutral one, not this folder's.
demo=/tmp/vemora-demo
mkdir -p "$demo" "$work/program" "$work/flash" "$out"
cp "$bin/sample.img" "$demo/sample.img"
for file in pluginhub.dll langhub.dll Vemora.lan VemoProc.Plg usbwire.dll scriptbase.dll \
  blockcrypt.dll imgdec_fun.lua; do
  cp "$bin/$file" "$work/program/"
done
cp "$bin/vemora_probe" "$work/program/Vemora"
printf '[Vemora]\nimage=%s\nimage_path=%s\n' "$demo/sample.img" "$demo" > "$work/program/vemora.ini"
rm -f "$out/window-running.png" "$out/window-finished.png"

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3> "$work/display" 2> "$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
  [[ -s $work/display ]] && break
  sleep 0.1
done
if [[ ! -s $work/display ]]; then
  echo "screenshot: Xvfb did not start" >&2
  cat "$work/xvfb.log" >&2
  exit 1
fi

status=0
timeout 120 env DISPLAY=":$(< "$work/display")" QT_QPA_PLATFORM=xcb \
  LANG="${SCREENSHOT_LANG:-en_US.UTF-8}" \
  LD_PRELOAD="$bin/libvemora_simdrv.so:$bin/libvemora_simdev.so" \
  VEMORA_SIM_BOARDS=1 VEMORA_SIM_PLUG_DELAY_MS=1000 VEMORA_SIM_LINK=2000:250000 \
  VEMORA_SIM_FLASH_DIR="$work/flash" VEMORA_PROBE_RUN=1 VEMORA_PROBE_SHOTS="$out" \
  "$work/program/Vemora" > "$work/out.log" 2> "$work/err.log" || status=$?
if [[ $status -ne 0 ]] || ! grep -qx 'run.end=finished' "$work/out.log"; then
  echo "screenshot: the run did not finish (status $status)" >&2
  cat "$work/out.log" "$work/err.log" >&2
  exit 1
fi
for shot in window-running.png window-finished.png; do
  if [[ ! -s $out/$shot ]]; then
    echo "screenshot: no $shot" >&2
    exit 1
  fi
  echo "$out/$shot"
done
