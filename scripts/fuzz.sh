#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) into build-fuzz/ and runs each for the
# given time. New inputs that raise coverage are kept in build-fuzz/fuzz-corpus/<target>/;
# a crash, a leak, a sanitizer report or an input slower than one second stops that target and
# leaves the input in build-fuzz/ (crash-*, leak-*, timeout-*).
#
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]     (default: 600 seconds, every target)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
shift || true
./scripts/install-deps.sh
if [ ! -f build-fuzz/build.ninja ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPLUMO_FUZZ=ON
fi
cmake --build build-fuzz -j "$(nproc)"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(find build-fuzz/fuzz -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x -printf '%f\n' | sort)
fi
status=0
for t in "${targets[@]}"; do
  corpus="build-fuzz/fuzz-corpus/$t"
  mkdir -p "$corpus"
  # Targets of small inputs have their own seeds and input limit (as in fuzz/CMakeLists.txt);
  # the others take whole files from the test data.
  case "$t" in
    fuzz_decoder_frames|fuzz_layer3_frames) max_len=6144; seeds=("../fuzz/seeds/$t") ;;
    fuzz_huffman) max_len=1024; seeds=("../fuzz/seeds/$t") ;;
    *) max_len=65536
       seeds=(../tests/data/samples ../tests/data/conformance ../tests/data/samples/playlists ../fuzz/seeds) ;;
  esac
  echo "== $t: $seconds s"
  if ! (cd build-fuzz && ASAN_OPTIONS=detect_leaks=1 "./fuzz/$t" -max_total_time="$seconds" -timeout=1 \
        -max_len="$max_len" -rss_limit_mb=2048 -malloc_limit_mb=256 -print_final_stats=1 \
        -dict=../fuzz/mpeg.dict "fuzz-corpus/$t" "${seeds[@]}" \
        2>"fuzz-$t.log"); then
    status=1
    echo "$t FAILED: see build-fuzz/fuzz-$t.log"
  fi
  grep -E '^#[0-9]+ +DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb' \
    "build-fuzz/fuzz-$t.log" || true
done
exit $status
