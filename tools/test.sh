#!/usr/bin/env bash
# Sets up, builds with warnings as errors and runs the whole test suite; then
# builds it with AddressSanitizer and UndefinedBehaviorSanitizer and runs it
# again (tools/sanitize.sh); then builds the thread-heavy suites with
# ThreadSanitizer and runs them (tools/tsan.sh); then builds the fuzz targets
# with clang and runs each for a few seconds after its regression inputs
# (tools/fuzz.sh --ci). The runs go one after the other, never side by side,
# and a summary of all ends the output.
set -uo pipefail
cd "$(dirname "$0")/.."

if ! VEMORA_WERROR=ON tools/setup.sh; then
  echo "test: setup or build failed"
  exit 1
fi
rm -f build/ctest.log
ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 600 | tee build/ctest.log
plain=$?
tools/sanitize.sh
sanitized=$?
tsan_start=$SECONDS
tools/tsan.sh
threads=$?
tsan_time=$((SECONDS - tsan_start))
fuzz_start=$SECONDS
mkdir -p build-fuzz
tools/fuzz.sh --ci 2>&1 | tee build-fuzz/ci.log
fuzzed=${PIPESTATUS[0]}
fuzz_seconds=$((SECONDS - fuzz_start))

# <title> <status> <build dir>: verdict, ctest's count, and the tests that
# were skipped or failed.
summarize() {
  local verdict=passed log=$3/ctest.log
  (($2)) && verdict=FAILED
  if [[ -f $log ]]; then
    echo "$1: $verdict ($(grep -h 'tests passed' "$log" | tail -n1))"
    sed -n 's/^\(sanitize\|tsan\): /  /p' "$log"
    sed -n '/tests passed/,$s/^\s*[0-9]\+ - /  /p' "$log"
  else
    echo "$1: $verdict (no tests ran; see the build output above)"
  fi
}
echo "==== summary"
summarize "tests" "$plain" build
summarize "tests with sanitizers" "$sanitized" build-asan
summarize "tests with thread sanitizer" "$threads" build-tsan
echo "  took ${tsan_time} s, its build included"
shopt -s nullglob
reports=(build-asan/sanitizer-reports/* build-tsan/sanitizer-reports/*)
((${#reports[@]})) && echo "  sanitizer reports (printed above): ${reports[*]}"
verdict=passed
((fuzzed)) && verdict=FAILED
echo "fuzzing: $verdict in $fuzz_seconds s, build included"
sed -n 's/^fuzz: /  /p' build-fuzz/ci.log
((plain == 0 && sanitized == 0 && threads == 0 && fuzzed == 0))
