#!/usr/bin/env bash
# Builds the programs (build-package/, Release) and makes the Debian package
# plumo_VERSION_ARCH.deb in the project folder, then checks it with lintian. Install it with
# `sudo apt install ./plumo_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
dir=build-package
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPLUMO_BUILD_TESTS=OFF -DPLUMO_BUILD_BENCH=OFF
fi
cmake --build "$dir" -j "$(nproc)"
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/plumo_*.deb)
cp "$deb" .
dpkg-deb --contents "$deb"
lintian --fail-on error "$deb"
echo "made $(basename "$deb")"
