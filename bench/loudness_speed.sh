#!/usr/bin/env bash
# Loudness measuring speed: plumo-decode --loudness (decoding included) on a Layer III file of
# 44.1 kHz stereo 128 kbit/s made once from pink noise and a sine sweep, as multiples of real
# time on one core (user + system CPU time of the median run).
#
# Usage: bench/loudness_speed.sh [--minutes M] [--runs N] [--media DIR]
# Environment: PLUMO_DECODE (default build/tools/plumo-decode). Needs sox, lame, awk.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
minutes=10
runs=5
media="$root/build/bench-media"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --minutes) minutes="${2:?}"; shift 2 ;;
    --runs) runs="${2:?}"; shift 2 ;;
    --media) media="${2:?}"; shift 2 ;;
    *) echo "usage: $0 [--minutes M] [--runs N] [--media DIR]" >&2; exit 2 ;;
  esac
done
decode="${PLUMO_DECODE:-$root/build/tools/plumo-decode}"
mkdir -p "$media"
file="$media/loudness_${minutes}min_44k_128.mp3"
if [[ ! -f "$file" ]]; then
  half=$((minutes * 30))
  sox -n -r 44100 -c 2 -b 16 "$media/pink.wav" synth "$half" pinknoise vol 0.3
  sox -n -r 44100 -c 2 -b 16 "$media/sweep.wav" synth "$half" sine 20-20000 vol 0.4
  sox "$media/pink.wav" "$media/sweep.wav" "$media/loudness.wav"
  lame --quiet -b 128 "$media/loudness.wav" "$file"
  rm -f "$media/pink.wav" "$media/sweep.wav" "$media/loudness.wav"
fi
seconds=$((minutes * 60))
times=()
for ((i = 0; i < runs; i++)); do
  # One core: the meter and the decoder run on the calling thread.
  t=$( { /usr/bin/time -f '%U %S' taskset -c 0 "$decode" --loudness "$file" >/dev/null; } 2>&1 | awk '{print $1 + $2}')
  times+=("$t")
done
median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')
awk -v s="$seconds" -v t="$median" 'BEGIN {printf "loudness measuring, 44.1 kHz stereo 128 kbit/s: %.2f s CPU for %d s of audio, %.0fx real time\n", t, s, s / t}'
