#!/usr/bin/env bash
# Builds the libraries, the programs and the thread-heavy suites (the driver
# stand-in, the simulated bus, the window's callbacks, the runner, the monitor
# and the sessions) with ThreadSanitizer into build-tsan/ and runs them there.
# Any report fails the run, even one from a child process whose failure a
# test expected. Tests labelled no_tsan cannot run under ThreadSanitizer (each
# says why where it is declared) and are left out here only.
# Usage: tools/tsan.sh [build dir, default build-tsan]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-tsan}
reports=$PWD/$dir/sanitizer-reports
rm -rf "$reports" "$dir/ctest.log"

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEMORA_TSAN=ON
cmake --build "$dir" -j"$(nproc)"

mkdir -p "$reports"
left=$(ctest --test-dir "$dir" -N -L no_tsan | sed -n 's/^ *Test *#[0-9]*: //p' | xargs)
echo "tsan: left out (no_tsan): ${left:-none}" | tee "$dir/ctest.log"

# Reports go to files: a child's report might otherwise end up only in output
# that its test captured and judged. A program with a report also ends with
# status 66, so the test that ran it fails as well.
export TSAN_OPTIONS="log_path=$reports/tsan:log_exe_name=1:second_deadlock_stack=1"
TSAN_OPTIONS+=":suppressions=$PWD/tools/tsan.supp:print_suppressions=0"
status=0
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 600 -LE no_tsan \
  | tee -a "$dir/ctest.log" || status=$?

shopt -s nullglob
found=("$reports"/*)
for report in "${found[@]}"; do
  echo "==== thread sanitizer report ${report#"$PWD/"}"
  cat "$report"
done
if ((${#found[@]})); then
  echo "tsan: ${#found[@]} thread sanitizer report(s), listed above"
  status=1
fi
exit "$status"
