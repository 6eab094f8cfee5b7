#!/usr/bin/env bash
# Installs what is missing, builds, and decodes a file the project ships, describing it first.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh build
in="${1:-tests/data/samples/l2_m1_44k_112_joint.mp2}"
out="${2:-${TMPDIR:-/tmp}/plumo-demo.wav}"
./build/tools/plumo-decode --info "$in"
./build/tools/plumo-decode "$in" "$out"
echo "decoded $in to $out"
