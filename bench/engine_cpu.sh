#!/usr/bin/env bash
# CPU time and peak memory of the whole player engine while it plays about one minute of
# 44.1 kHz stereo 128 kbit/s Layer III through the simulated device at the real-time rate
# (plumo-play --device null). The file is made by joining copies of a shipped sample.
#
# Usage: bench/engine_cpu.sh [--minutes M] [--file PATH]
# Environment: PLUMO_PLAY (default build/tools/plumo-play). Needs GNU time (/usr/bin/time,
# Debian package "time") for the peak resident memory.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sample="$root/tests/data/samples/l3_m1_44k_128_joint_noinfo.mp3"
minutes=1
file=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --minutes) minutes=${2:?}; shift 2 ;;
    --file) file=${2:?}; shift 2 ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done

play=${PLUMO_PLAY:-"$root/build/tools/plumo-play"}
if [[ ! -x "$play" ]]; then
  cmake -S "$root" -B "$root/build" -G Ninja >&2
  cmake --build "$root/build" --target plumo-play -j 2 >&2
fi
tmp=$(mktemp -d "${TMPDIR:-/tmp}/plumo-engine.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

if [[ -z "$file" ]]; then
  # 1.541 s per copy.
  copies=$(awk -v m="$minutes" 'BEGIN { n = int(m * 60 / 1.541 + 0.5); print (n < 1 ? 1 : n) }')
  file="$tmp/long.mp3"
  for ((i = 0; i < copies; i++)); do cat "$sample"; done >"$file"
fi

if [[ -x /usr/bin/time ]]; then
  /usr/bin/time -f '%e %U %S %M' -o "$tmp/time" "$play" --device null "$file" >/dev/null
  read -r wall user sys rss <"$tmp/time"
else
  TIMEFORMAT='%3R %3U %3S'
  { time "$play" --device null "$file" >/dev/null; } 2>"$tmp/time"
  read -r wall user sys <"$tmp/time"
  rss="?"
fi
awk -v w="$wall" -v u="$user" -v s="$sys" -v r="$rss" -v f="$(basename "$file")" 'BEGIN {
  printf "file %s, played in %.2f s of wall time\n", f, w
  printf "CPU: %.3f s user + %.3f s system = %.2f %% of one core over the playing time\n", u, s, (w > 0 ? 100 * (u + s) / w : 0)
  printf "peak resident memory of plumo-play: %s KiB\n", r
}'
