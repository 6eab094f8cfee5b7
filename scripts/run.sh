#!/usr/bin/env bash
# Installs what is missing, builds, and starts the panel (drop .mp3 files or .m3u playlists on
# it; its menu is on the right mouse button and on the tray icon). With --demo it plays shipped
# files (or the files given) with plumo-play on the sound device instead, or into a WAV file
# when there is no sound device. Only what it starts is built (the tests and benchmarks are not).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
if [ "${1:-}" != "--demo" ]; then
  ./scripts/build.sh build --target plumo
  exec ./build/src/app/plumo "$@"
fi
./scripts/build.sh build --target plumo-play plumo-decode
shift
files=("$@")
[ ${#files[@]} -eq 0 ] && files=(tests/data/samples/l3_m1_44k_128_joint_info.mp3 tests/data/samples/l2_m1_44k_112_joint.mp2)
./build/tools/plumo-decode --info "${files[0]}"
if ! ./build/tools/plumo-play --device sdl "${files[@]}"; then
  out="${TMPDIR:-/tmp}/plumo-demo.wav"
  echo "no sound device could play: writing what would be played to $out"
  ./build/tools/plumo-play --device "wav:$out" "${files[@]}"
fi
