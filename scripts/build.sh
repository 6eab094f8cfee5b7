#!/usr/bin/env bash
# Builds the project into build/ (or the folder given), configuring it on first use with the
# -D options given; --target NAME... builds only those targets.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build}"
shift || true
options=()
targets=()
while [ $# -gt 0 ]; do
  if [ "$1" = "--target" ]; then
    shift
    targets=("$@")
    break
  fi
  options+=("$1")
  shift
done
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}"
fi
cmake --build "$dir" -j "$(nproc)" ${targets[@]+--target "${targets[@]}"}
