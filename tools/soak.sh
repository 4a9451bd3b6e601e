#!/usr/bin/env bash
# The soak: BOARDS simulated boards (1000 unless given) flashed one after
# another by one vemora-cli run, the simulated board at zero latency. The
# runner's resident memory and open descriptors are taken once its first
# WARM boards (10) have ended well, when its threads and their allocator
# arenas exist, and again after the last one; they must stay flat (memory
# within SLACK_KB, 512 unless given; descriptors equal), and every board must
# end well. Called by tools/bench.sh; alone: tools/soak.sh [BOARDS].
set -euo pipefail
cd "$(dirname "$0")/.."
boards=${1:-1000}
slack_kb=${SLACK_KB:-512}
warm=${WARM:-10}
bin=$PWD/build/bin
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT

# The line "board N: ok" has come (0), or board N failed or the runner is
# gone (1).
wait_for_board() {
  until grep -q "board $1: ok, DeviceId" "$work/out"; do
    if grep -q "board $1: FAILED" "$work/out" || ! kill -0 "$pid" 2>/dev/null; then
      return 1
    fi
    sleep 0.2
  done
}

# "<resident kB> <open descriptors>" of the runner now.
measure() {
  echo "$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status") $(find "/proc/$pid/fd" -mindepth 1 | wc -l)"
}

start=$(date +%s)
(cd "$bin" && exec env LD_PRELOAD="$bin/libvemora_simdrv.so:$bin/libvemora_simdev.so" \
  VEMORA_SIM_BOARDS="$boards" VEMORA_SIM_PLUG_DELAY_MS=200 VEMORA_SIM_PLUG_INTERVAL_MS=0 \
  VEMORA_SIM_FES_DELAY_MS=0 VEMORA_SIM_FES_IDLE_UNPLUG_MS=300 VEMORA_SIM_LINK=off \
  VEMORA_SIM_FLASH_SIZE=33M ./vemora-cli --plain --yes sample.img) > "$work/out" 2>&1 &
pid=$!

wait_for_board "$warm" || { echo "soak: board $warm did not end well" >&2; tail "$work/out" >&2; exit 1; }
read -r rss_first fds_first < <(measure)
wait_for_board "$boards" || {
  echo "soak: a board failed or the runner ended early" >&2
  grep -E "FAILED|summary" "$work/out" | head >&2
  exit 1
}
read -r rss_last fds_last < <(measure)
kill -INT "$pid"
status=0
wait "$pid" || status=$?
seconds=$(($(date +%s) - start))

summary=$(grep -o "summary: .*" "$work/out" | tail -n 1)
echo "soak: $boards boards in $seconds s; $summary"
echo "soak: resident memory ${rss_first} kB after board $warm, ${rss_last} kB after board $boards"
echo "soak: open descriptors ${fds_first} after board $warm, ${fds_last} after board $boards"
# The figures for tools/bench.sh's report.
if [[ -n ${VEMORA_BENCH_REPORT:-} ]]; then
  ok=$(sed -n 's/^summary: [0-9]* boards, \([0-9]*\) ok.*/\1/p' <<<"$summary")
  printf '%s\t%s\t%s\t%s\n' \
    soak.seconds "$seconds" s "$boards boards flashed one after another, zero-latency board" \
    soak.failed "$((boards - ${ok:-0}))" boards "boards that did not end well" \
    soak.rss_growth "$((rss_last - rss_first))" kB "resident memory after board $boards against after board $warm ($rss_first kB)" \
    soak.fds_growth "$((fds_last - fds_first))" descriptors "open descriptors after board $boards against after board $warm ($fds_first)" \
    >>"$VEMORA_BENCH_REPORT"
fi
failed=0
if [[ $status -ne 0 || $summary != "summary: $boards boards, $boards ok, 0 failed" ]]; then
  echo "soak: not every board ended well (exit status $status)" >&2
  failed=1
fi
if ((rss_last > rss_first + slack_kb)); then
  echo "soak: resident memory grew by $((rss_last - rss_first)) kB (allowed $slack_kb)" >&2
  failed=1
fi
if ((fds_last != fds_first)); then
  echo "soak: open descriptors went from $fds_first to $fds_last" >&2
  failed=1
fi
exit "$failed"
