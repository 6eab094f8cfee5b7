#!/usr/bin/env bash
# Installs what is missing, builds, and plays a file the project ships (or the files given) with
# plumo-play on the sound device. Without a sound device the sound goes to a WAV file instead.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh build
files=("$@")
[ ${#files[@]} -eq 0 ] && files=(tests/data/samples/l3_m1_44k_128_joint_info.mp3 tests/data/samples/l2_m1_44k_112_joint.mp2)
./build/tools/plumo-decode --info "${files[0]}"
if ! ./build/tools/plumo-play --device sdl "${files[@]}"; then
  out="${TMPDIR:-/tmp}/plumo-demo.wav"
  echo "no sound device could play: writing what would be played to $out"
  ./build/tools/plumo-play --device "wav:$out" "${files[@]}"
fi
