#!/usr/bin/env bash
# Installs the Debian packages the project needs (when any is missing) and
# builds everything into build/bin/. Run as root on Debian 12.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  liblua5.1-0-dev lua5.1 zlib1g-dev
  qt6-base-dev xvfb
  libgtest-dev libgmock-dev libbenchmark-dev libcrypto++-dev
  clang-14 libclang-rt-14-dev llvm-14
  gnuplot-nox
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# VEMORA_WERROR only when given: a run after the tests keeps their build
# instead of rebuilding everything for a changed flag.
cmake -S . -B build -G Ninja ${VEMORA_WERROR:+-DVEMORA_WERROR="$VEMORA_WERROR"}
cmake --build build -j"$(nproc)"
