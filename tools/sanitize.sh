#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ and runs the whole suite there. Any sanitizer report fails the
# run, even one from a child process whose failure a test expected.
# Tests labelled no_sanitize cannot run under the sanitizers (each says why
# where it is declared) and are left out here only.
# Usage: tools/sanitize.sh [build dir, default build-asan]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-asan}
reports=$PWD/$dir/sanitizer-reports
rm -rf "$reports" "$dir/ctest.log"

# Warnings are the normal build's business; this one looks for run-time faults.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVEMORA_SANITIZE=ON
cmake --build "$dir" -j"$(nproc)"

mkdir -p "$reports"
echo "sanitize: left out (no_sanitize):" \
  "$(ctest --test-dir "$dir" -N -L no_sanitize | sed -n 's/^ *Test *#[0-9]*: //p' | xargs)" \
  | tee "$dir/ctest.log"

# AddressSanitizer and LeakSanitizer reports go to files: a child's report
# might otherwise end up only in output that its test captured and judged.
# UndefinedBehaviorSanitizer cannot write to files beside AddressSanitizer; its
# report goes to standard error and the program aborts, so that a child's
# finding never passes for an ordinary failure its test expected.
export ASAN_OPTIONS="log_path=$reports/asan:log_exe_name=1"
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:abort_on_error=1"
status=0
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 600 -LE no_sanitize \
  | tee -a "$dir/ctest.log" || status=$?

shopt -s nullglob
found=("$reports"/*)
for report in "${found[@]}"; do
  echo "==== sanitizer report ${report#"$PWD/"}"
  cat "$report"
done
if ((${#found[@]})); then
  echo "sanitize: ${#found[@]} sanitizer report(s), listed above"
  status=1
fi
exit "$status"
