#!/usr/bin/env bash
# Fails when a library's dynamic symbol table is not exactly its contract
# list: every exported name must be listed, every listed name exported.
# Usage: check-exports.sh <library> <list>  (list format: cmake/Vemora.cmake)
set -euo pipefail
library=$1
list=$2

mapfile -t patterns < <(sed -e 's/#.*//' -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' "$list" |
  grep -v '^$')
# "<address> <type> <name>"; demangled names may hold spaces.
mapfile -t symbols < <(nm -DC --defined-only "$library" | cut -d' ' -f3-)

matches() { # name pattern: names with a space are taken as they are
  if [[ $2 == *" "* ]]; then [[ $1 == "$2" ]]; else [[ $1 == $2 ]]; fi
}

status=0
for symbol in "${symbols[@]}"; do
  listed=0
  for pattern in "${patterns[@]}"; do
    if matches "$symbol" "$pattern"; then listed=1 && break; fi
  done
  ((listed)) || { echo "$library exports $symbol, which is not in $list"; status=1; }
done
for pattern in "${patterns[@]}"; do
  found=0
  for symbol in "${symbols[@]}"; do
    if matches "$symbol" "$pattern"; then found=1 && break; fi
  done
  ((found)) || { echo "$library does not export $pattern, listed in $list"; status=1; }
done
((status)) || echo "exports: $(basename "$library") exports exactly its ${#patterns[@]} listed names"
exit $status
