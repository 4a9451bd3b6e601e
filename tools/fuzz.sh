#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang (libFuzzer with AddressSanitizer
# and UndefinedBehaviorSanitizer) into build-fuzz/ and runs them, one after
# the other: first every input of a target's regression corpus once, then the
# fuzzer for the time given, starting from the seeds and the regressions.
# Inputs the fuzzer finds worth keeping go to build-fuzz/corpus/<target>/
# (kept between runs), findings to build-fuzz/findings/<target>/.
# docs/hardening.md ("Fuzzing") tells what each target does with its input
# and what to do with a finding.
#
# Usage: tools/fuzz.sh [target | all] [seconds per target, default 600]
#        tools/fuzz.sh --ci    every target for a few seconds (tools/test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-fuzz
all=(uevent scriptbase transport langfile imgtool imgdec)

if [[ ${1:-} == --ci ]]; then
  targets=("${all[@]}")
  seconds=${VEMORA_FUZZ_CI_SECONDS:-8}
else
  target=${1:-all}
  seconds=${2:-600}
  if [[ $target == all ]]; then
    targets=("${all[@]}")
  elif [[ " ${all[*]} " == *" $target "* ]]; then
    targets=("$target")
  else
    echo "fuzz: no target $target (there are: ${all[*]})" >&2
    exit 2
  fi
fi

start=$SECONDS
# Only the fuzz targets and what they load are built here; the build type
# adds no flags of its own (VEMORA_FUZZ brings them).
mkdir -p "$dir"
CC=clang-14 CXX=clang++-14 cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=None \
  -DVEMORA_FUZZ=ON -DVEMORA_TESTS=OFF >"$dir/configure.log" 2>&1 \
  || { cat "$dir/configure.log"; exit 1; }
cmake --build "$dir" -j"$(nproc)" --target fuzzers
echo "fuzz: built in $((SECONDS - start)) s"

# The code under test logs freely; its output is dropped (close_fd_mask),
# while the fuzzer's lines and the sanitizers' reports still appear. An input
# that runs for 10 s counts as a hang.
options=(-close_fd_mask=3 -timeout=10 -print_final_stats=1)
shopt -s nullglob
failed=()
for t in "${targets[@]}"; do
  bin=$dir/bin/fuzz_$t
  log=$dir/fuzz_$t.log
  mkdir -p "$dir/corpus/$t" "$dir/findings/$t"
  regressions=(fuzz/regressions/"$t"/*)
  if ((${#regressions[@]})) && ! "$bin" "${options[@]}" "${regressions[@]}" >"$log" 2>&1; then
    echo "fuzz: $t: a regression input fails again"
    tail -n 60 "$log"
    failed+=("$t")
    continue
  fi
  dict=()
  [[ -f fuzz/dicts/$t.dict ]] && dict=(-dict="fuzz/dicts/$t.dict")
  if "$bin" "${options[@]}" "${dict[@]}" -max_total_time="$seconds" \
    -artifact_prefix="$dir/findings/$t/" "$dir/corpus/$t" fuzz/seeds/"$t" \
    ${regressions[0]+fuzz/regressions/"$t"} >"$log" 2>&1; then
    echo "fuzz: $t: regression inputs passed: ${#regressions[@]};" \
      "$(sed -n 's/^stat::number_of_executed_units: *//p' "$log") runs in ${seconds} s," \
      "$(grep -o 'cov: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2) edges covered"
  else
    echo "fuzz: $t: FINDING (the input is in $dir/findings/$t/)"
    tail -n 60 "$log"
    failed+=("$t")
  fi
done
echo "fuzz: $((SECONDS - start)) s in all"
if ((${#failed[@]})); then
  echo "fuzz: FAILED: ${failed[*]}"
  exit 1
fi
