#!/usr/bin/env bash
# Installs what is missing, builds the project normally and with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test in both builds; then builds the threaded parts
# (platform layer, network stream, player engine, the panel) with ThreadSanitizer and runs their tests, and runs every
# fuzz target for a short while (scripts/fuzz.sh runs them longer).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

./scripts/build.sh build
ctest --test-dir build --output-on-failure -j "$(nproc)"

./scripts/build.sh build-asan -DPLUMO_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$(nproc)"

cmake -S . -B build-tsan -G Ninja -DPLUMO_TSAN=ON >/dev/null
cmake --build build-tsan --target plumo_platform_tests plumo_stream_tests plumo_engine_tests plumo_allocation_tests \
  plumo_components_tests plumo_app_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -j "$(nproc)" -L 'platform|stream|engine|components|app'

if [ ! -f build-fuzz/build.ninja ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLUMO_FUZZ=ON >/dev/null
fi
cmake --build build-fuzz
ctest --test-dir build-fuzz --output-on-failure -j "$(nproc)" -L fuzz
