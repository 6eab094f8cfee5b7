#!/usr/bin/env bash
# The cost of a seek near the end of a long file against decoding the whole file: plumo-decode
# --start 3590 (59:50) of a 60-minute file, which opens it, indexes its frames by their headers,
# decodes the few frames before the target and the last 10 s, beside plumo-decode of all of it.
# Both write raw PCM to /dev/null. Reports the median CPU time (user + system) of each and their
# ratio.
#
# Usage: bench/seek_cost.sh [--file PATH] [--start SECONDS] [--runs N] [--media DIR]
# Environment: PLUMO_DECODE (path of plumo-decode, default build/tools/plumo-decode).
# Needs bash, coreutils, awk, sox and lame (to make the file once).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
file=""
start=3590
runs=3
media="$root/build/bench-media"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --file) file="${2:?--file needs a path}"; shift 2 ;;
    --start) start="${2:?--start needs seconds}"; shift 2 ;;
    --runs) runs="${2:?--runs needs a number}"; shift 2 ;;
    --media) media="${2:?--media needs a folder}"; shift 2 ;;
    -h|--help) sed -n 2,11p "$0"; exit 0 ;;
    *) echo "unknown argument: $1" >&2; exit 1 ;;
  esac
done
decode="${PLUMO_DECODE:-$root/build/tools/plumo-decode}"
[[ -x "$decode" ]] || { echo "no plumo-decode at $decode: build it first" >&2; exit 1; }

if [[ -z "$file" ]]; then
  mkdir -p "$media"
  file="$media/seek-60min-128k.mp3"
  if [[ ! -f "$file" ]]; then
    echo "making $file (60 minutes, 44.1 kHz stereo, LAME 128 kbit/s CBR) ..." >&2
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    # One minute of gliding tones over quiet noise, repeated to an hour.
    sox -n -r 44100 -c 2 -b 16 "$tmp/minute.wav" synth 60 sine 100-3000 sine 150-5000 synth 60 pinknoise mix vol 0.4
    sox "$tmp/minute.wav" "$tmp/hour.wav" repeat 59
    lame --quiet -q 7 -b 128 "$tmp/hour.wav" "$file.part"
    mv "$file.part" "$file"
  fi
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
ln -s /dev/null "$out/null.pcm"

# CPU seconds (user + system) of one command.
cpu() {
  local TIMEFORMAT='%U %S'
  { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.3f\n", $1 + $2 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

whole=() seek=()
for ((i = 0; i < runs; i++)); do
  whole+=("$(cpu "$decode" "$file" "$out/null.pcm")")
  seek+=("$(cpu "$decode" --start "$start" "$file" "$out/null.pcm")")
done
w=$(printf '%s\n' "${whole[@]}" | median)
s=$(printf '%s\n' "${seek[@]}" | median)
echo "file: $file"
echo "whole decode:        $w s CPU (median of $runs)"
echo "seek to $start s:    $s s CPU (median of $runs)"
awk -v s="$s" -v w="$w" 'BEGIN { printf "seek / whole: %.2f %%\n", (w > 0 ? 100 * s / w : 0) }'
