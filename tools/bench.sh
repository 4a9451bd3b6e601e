#!/usr/bin/env bash
# Builds and runs every benchmark and, without arguments, the soak
# (tools/soak.sh: 1000 boards through vemora-cli), then writes the report:
# docs/performance.md (the figures, each against its target, misses marked)
# and docs/performance.png (throughput against the tool script's command
# size). Speed targets are checked here, not in tests. Arguments go to every
# benchmark program (e.g. --benchmark_filter=...). Each program's output is
# kept in build/bench/<name>.log. Exits non-zero when a benchmark fails or a
# target is missed.
set -uo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh || exit 1

logs=build/bench
mkdir -p "$logs"
figures=$logs/figures.tsv
: >"$figures"
export VEMORA_BENCH_REPORT=$PWD/$figures

started=$(date +%s)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
failed=()
ran=0
for b in build/bin/bench_*; do
  [[ -x "$b" ]] || continue
  name=$(basename "$b")
  begun=$(date +%s)
  if (cd build/bin && "./$name" "$@") >"$logs/$name.log" 2>&1; then
    result=ok
  else
    result=failed
    failed+=("$name")
  fi
  echo "== $name: $result in $(($(date +%s) - begun)) s (log: $logs/$name.log)"
  ((ran += 1))
done
if (($# == 0)); then
  begun=$(date +%s)
  if tools/soak.sh >"$logs/soak.log" 2>&1; then result=ok; else result=failed; failed+=(soak); fi
  echo "== soak: $result in $(($(date +%s) - begun)) s (log: $logs/soak.log)"
  ((ran += 1))
fi
seconds=$(($(date +%s) - started))
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# Targets: key, comparison, limit. Figures without one are shown as measured.
targets='
flash.host >= 1000
flash.usb2.share >= 0.95
runner.peak.5g < 64
runner.linearity <= 1.2
detect.node_over.0 < 1
detect.node_over.4 < 1
detect.node_over.3000 < 1
detect.burst_share.0 < 1
detect.burst_share.4 < 1
detect.burst_share.3000 < 1
window.latency < 50
window.queued <= 2
crc32.ratio.4k >= 1
crc32.ratio.256k >= 1
crc32.ratio.4096k >= 1
rc6.encrypt >= 1
rc6.decrypt >= 1
usbwire.write.32k < 10
soak.failed <= 0
soak.rss_growth <= 512
soak.fds_growth <= 0
'
# The report's sections: a title, then the keys shown in it (a trailing "*"
# takes every key that begins so).
sections='
Host pipeline|flash.host flash.whole usbwire.*
USB 2.0 profile|flash.usb2.*
Memory and scale (vemora-cli, sparse images)|runner.*
Detection (hot-plug monitor)|detect.*
Window (10 000 progress reports a second)|window.*
Ratios|crc32.* rc6.*
Script library checks|checks.*
Soak (1000 boards through vemora-cli)|soak.*
'

report=docs/performance.md
missed=$(awk -v targets="$targets" -v sections="$sections" -v out="$report.table" '
  BEGIN {
    FS = "\t"
    n = split(targets, t, "\n")
    for (i = 1; i <= n; i++) {
      if (split(t[i], f, " ") == 3) { op[f[1]] = f[2]; limit[f[1]] = f[3] }
    }
  }
  { value[$1] = $2; unit[$1] = $3; what[$1] = $4; order[++count] = $1 }
  function met(k) {
    v = value[k] + 0; l = limit[k] + 0
    return op[k] == ">=" ? v >= l : op[k] == "<=" ? v <= l : op[k] == "<" ? v < l : v > l
  }
  function row(k,   verdict) {
    shown[k] = 1
    verdict = ""
    if (k in op) verdict = met(k) ? "met (" op[k] " " limit[k] ")" : "**missed** (" op[k] " " limit[k] ")"
    if ((k in op) && !met(k)) misses++
    return sprintf("| %s | %.4g %s | %s |\n", what[k], value[k], unit[k], verdict)
  }
  function section(title, rows) {
    if (rows != "") printf "\n### %s\n\n| What | Measured | Target |\n|---|---|---|\n%s", title, rows > out
  }
  END {
    ns = split(sections, s, "\n")
    for (i = 1; i <= ns; i++) {
      if (split(s[i], part, "|") != 2) continue
      rows = ""
      nk = split(part[2], keys, " ")
      for (j = 1; j <= nk; j++) {
        pre = substr(keys[j], 1, length(keys[j]) - 1)
        for (c = 1; c <= count; c++) {
          k = order[c]
          if (shown[k] || k ~ /^sweep\./) continue
          if (k == keys[j] || (keys[j] ~ /\*$/ && index(k, pre) == 1)) rows = rows row(k)
        }
      }
      section(part[1], rows)
    }
    rows = ""
    for (c = 1; c <= count; c++)
      if (!shown[order[c]] && order[c] !~ /^sweep\./) rows = rows row(order[c])
    section("Other", rows)
    rows = ""
    for (k in op) if (!(k in value)) { rows = rows "| " k " | not measured | **missed** |\n"; misses++ }
    section("Not measured", rows)
    print misses + 0
  }' "$figures")

# The command-size sweep: a table and the plot's data.
sweep=$logs/sweep.dat
awk -F'\t' '$1 ~ /^sweep\./ {
    split($1, k, "."); size[k[2]] = 1; v[k[2] "." k[3]] = $2
  }
  END {
    for (s in size) print s, v[s ".moved"], v[s ".limit"], v[s ".share"], v[s ".host"]
  }' "$figures" | sort -n >"$sweep"

plotted=no
if command -v gnuplot >/dev/null && [[ -s $sweep ]]; then
  gnuplot <<EOF && plotted=yes
set terminal pngcairo size 900,540 font "sans,11"
set output "docs/performance.png"
set title "Flashing through the reference tool script: throughput against FES command size"
set logscale x 2
set xlabel "FES command size (KiB)"
set ylabel "USB 2.0 profile: MB/s over the link (written + read back)"
set y2label "zero-latency board: host pipeline, MB/s"
set yrange [0:42]
set y2range [0:*]
set ytics nomirror
set y2tics
set key bottom right
set grid
plot "$sweep" using (\$1/1024):2 with linespoints lw 2 title "achieved (USB 2.0 profile)", \
     "$sweep" using (\$1/1024):3 with linespoints dt 2 title "the profile's limit for the same transfers", \
     40 with lines lc rgb "gray" title "the link's bandwidth (40 MB/s)", \
     "$sweep" using (\$1/1024):5 axes x1y2 with linespoints title "host pipeline, zero-latency board (right axis)"
EOF
fi

{
  echo "# Performance"
  echo
  echo "Written by \`tools/bench.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC') at commit"
  echo "$(git rev-parse --short HEAD), on $(nproc) cores of \"$(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo | head -1)\";"
  echo "load average before $load_before, after $load_after; all benchmarks took $seconds s."
  echo "Each program's own output is in build/bench/; how the figures are made is"
  echo "written at the top of each benchmark's source (bench/)."
  echo
  echo "Whole flashes run VemoProc.Plg as the window loads it, with a simulated board"
  echo "(docs/simulated-device.md) and the reference tool script (sample/tools.lua):"
  echo "the FES half writes every partition, reads it back and checks it. \"Host"
  echo "pipeline\" leaves out the simulated board's own work (storing into and"
  echo "fetching from its flash file, checksumming), which a real board does on its"
  echo "own processor; the figure with it is shown beside it. On the USB 2.0 profile"
  echo "the link is synchronous: the host's time adds to the link's, so the share of"
  echo "the limit tells how much the host holds the link back."
  cat "$report.table"
  echo
  echo "### FES command size"
  echo
  echo "The reference script with FES commands of each size: on the USB 2.0 profile"
  echo "(32 MiB written and read back) and on a zero-latency board (128 MiB). The"
  echo "script ships with 4 MiB (docs/tool-scripts.md, \"Command size\")."
  echo
  [[ $plotted == yes ]] && echo "![Throughput against command size](performance.png)" && echo
  echo "| Command | USB 2.0: MB/s over the link | the profile's limit | share of the limit, board's storing aside | zero-latency host pipeline, MB/s |"
  echo "|---|---|---|---|---|"
  awk '{ size = $1 >= 1048576 ? $1 / 1048576 " MiB" : $1 / 1024 " KiB"
         printf "| %s | %.1f | %.1f | %.3f | %.0f |\n", size, $2, $3, $4, $5 }' "$sweep"
  echo
  if ((${#failed[@]})); then
    echo "Benchmarks that failed: ${failed[*]}."
  else
    echo "All $ran benchmark programs ran."
  fi
  echo "Targets missed: $missed."
} >"$report"
rm -f "$report.table"

echo "benchmarks: $((ran - ${#failed[@]})) ran, ${#failed[@]} failed; targets missed: $missed; $seconds s"
[[ $plotted == yes ]] && echo "report: $report, docs/performance.png" || echo "report: $report"
for name in "${failed[@]}"; do
  echo "  failed: $name"
done
((${#failed[@]} == 0 && missed == 0))
