#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) into build-fuzz/ and runs each for the
# given time. New inputs that raise coverage are kept in build-fuzz/fuzz-corpus/<target>/;
# a crash, a leak, a sanitizer report or an input slower than one second stops that target and
# leaves the input in build-fuzz/ (crash-*, leak-*, timeout-*).
#
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]     (default: 600 seconds, every target)
# FUZZ_PARALLEL=N runs N targets at a time (default 1); FUZZ_TIMEOUT=S counts an input slower than
# S seconds as a hang (default 1; raise it when the targets share the cores with other work).
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
parallel="${FUZZ_PARALLEL:-1}"
timeout="${FUZZ_TIMEOUT:-1}"

# Runs one target; its summary goes to build-fuzz/fuzz-<target>.summary.
run_target() {
  local t="$1" corpus="build-fuzz/fuzz-corpus/$1" max_len seeds summary="build-fuzz/fuzz-$1.summary"
  mkdir -p "$corpus"
  # Targets of small inputs have their own seeds and input limit (as in fuzz/CMakeLists.txt);
  # the others take whole files from the test data.
  case "$t" in
    fuzz_decoder_frames|fuzz_layer3_frames) max_len=6144; seeds=("../fuzz/seeds/$t") ;;
    fuzz_huffman) max_len=1024; seeds=("../fuzz/seeds/$t") ;;
    fuzz_icy|fuzz_cue) max_len=16384; seeds=("../fuzz/seeds/$t") ;;
    *) max_len=65536
       seeds=(../tests/data/samples ../tests/data/conformance ../tests/data/samples/playlists ../fuzz/seeds) ;;
  esac
  echo "== $t: $seconds s" >"$summary"
  local rc=0
  (cd build-fuzz && ASAN_OPTIONS=detect_leaks=1 "./fuzz/$t" -max_total_time="$seconds" -timeout="$timeout" \
     -max_len="$max_len" -rss_limit_mb=2048 -malloc_limit_mb=256 -print_final_stats=1 \
     -dict=../fuzz/mpeg.dict "fuzz-corpus/$t" "${seeds[@]}" \
     2>"fuzz-$t.log") || rc=1
  [ $rc -eq 0 ] || echo "$t FAILED: see build-fuzz/fuzz-$t.log" >>"$summary"
  grep -E '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb' \
    "build-fuzz/fuzz-$t.log" >>"$summary" || true
  return $rc
}

status=0
pids=()
names=()
for t in "${targets[@]}"; do
  run_target "$t" &
  pids+=($!)
  names+=("$t")
  # Wait for the oldest run once `parallel` are going.
  if [ ${#pids[@]} -ge "$parallel" ]; then
    wait "${pids[0]}" || status=1
    cat "build-fuzz/fuzz-${names[0]}.summary"
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
done
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || status=1
  cat "build-fuzz/fuzz-${names[$i]}.summary"
done
exit $status
