#!/usr/bin/env bash
# Sets up, builds and runs the demo: the sample image flashed into three
# simulated boards, one after another. Each board arrives in FEL a few seconds
# after the start and after each finished run (docs/simulated-device.md,
# "Preloaded into a process"). With a display the demo runs in the window
# Vemora, otherwise in the terminal through vemora-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh

bin=$PWD/build/bin
image=$bin/sample.img
export LD_PRELOAD=$bin/libvemora_simdrv.so:$bin/libvemora_simdev.so
export VEMORA_SIM_BOARDS=3
export VEMORA_SIM_PLUG_DELAY_MS=3000
export VEMORA_SIM_PLUG_INTERVAL_MS=3000
# A board leaves once it has been idle in FES for 2 s after its run, as an
# operator would take it away.
export VEMORA_SIM_FES_IDLE_UNPLUG_MS=2000
# A link slow enough to watch the progress (1 ms per transfer, 400 kB/s).
export VEMORA_SIM_LINK=1000:400000

if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
  # The window loads the image it remembers; give it the sample unless it
  # remembers one already.
  ini=$bin/vemora.ini
  if ! grep -q '^image=' "$ini" 2>/dev/null; then
    keys="image=$image"
    grep -q '^image_path=' "$ini" 2>/dev/null || keys+="\nimage_path=$bin"
    if grep -q '^\[Vemora\]' "$ini" 2>/dev/null; then
      sed -i "/^\[Vemora\]/a $keys" "$ini"
    else
      printf '[Vemora]\n%b\n' "$keys" >>"$ini"
    fi
  fi
  echo "run: the demo in the window Vemora: three simulated boards arrive in FEL, a few seconds apart"
  exec "$bin/Vemora"
fi
echo "run: no display (neither DISPLAY nor WAYLAND_DISPLAY is set): the demo runs in the terminal"
echo "run: through vemora-cli, flashing $image into three simulated boards"
exec "$bin/vemora-cli" --count 3 "$image"
