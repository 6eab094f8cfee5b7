#!/usr/bin/env bash
# Installs what is missing, builds the project normally and with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

./scripts/build.sh build
ctest --test-dir build --output-on-failure -j "$(nproc)"

./scripts/build.sh build-asan -DPLUMO_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$(nproc)"
