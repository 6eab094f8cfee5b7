#!/usr/bin/env bash
# Whole-program decoding speed of plumo-decode, shown beside ffmpeg's on the same file in the
# same run. By default a Layer II file of about ten minutes is made by joining copies of a
# shipped sample; --file benchmarks any other file instead.
#
# Usage: bench/decode_speed.sh [--file PATH] [--runs N] [--minutes M]
# Environment: PLUMO_DECODE (path of plumo-decode, default build/tools/plumo-decode),
#              FFMPEG (default: ffmpeg from PATH).
# Needs only bash, coreutils, awk and (optionally) ffmpeg.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sample="$root/tests/data/samples/l2_m1_44k_112_joint.mp2"

usage() {
  cat <<EOF
usage: $0 [--file PATH] [--runs N] [--minutes M]
  --file PATH   benchmark PATH instead of a generated Layer II file
  --runs N      timed runs of each program, best one kept (default 5)
  --minutes M   length of the generated file in minutes (default 10)
environment: PLUMO_DECODE=path/to/plumo-decode, FFMPEG=path/to/ffmpeg
EOF
}

file=""
runs=5
minutes=10
while [[ $# -gt 0 ]]; do
  case "$1" in
    --file) file=${2:?--file needs a path}; shift 2 ;;
    --file=*) file=${1#*=}; shift ;;
    --runs) runs=${2:?--runs needs a number}; shift 2 ;;
    --runs=*) runs=${1#*=}; shift ;;
    --minutes) minutes=${2:?--minutes needs a number}; shift 2 ;;
    --minutes=*) minutes=${1#*=}; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "unknown argument: $1" >&2; usage >&2; exit 2 ;;
  esac
done
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "--runs must be a positive integer" >&2; exit 2; }
[[ "$minutes" =~ ^[0-9]+([.][0-9]+)?$ ]] || { echo "--minutes must be a number" >&2; exit 2; }

# --- plumo-decode: reuse it, or build it when the default one is missing ----------------------
plumo=${PLUMO_DECODE:-"$root/build/tools/plumo-decode"}
if [[ ! -x "$plumo" ]]; then
  if [[ -n "${PLUMO_DECODE:-}" ]]; then
    echo "PLUMO_DECODE=$PLUMO_DECODE is not an executable file" >&2
    exit 1
  fi
  echo "building plumo-decode ..." >&2
  cmake -S "$root" -B "$root/build" -G Ninja >&2
  cmake --build "$root/build" --target plumo-decode -j 2 >&2
fi

ffmpeg_bin=${FFMPEG:-ffmpeg}
have_ffmpeg=1
command -v "$ffmpeg_bin" >/dev/null 2>&1 || have_ffmpeg=0

tmp=$(mktemp -d "${TMPDIR:-/tmp}/plumo-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# --- the file to decode ----------------------------------------------------------------------
if [[ -z "$file" ]]; then
  # Layer II frames stand alone, so whole copies of the sample joined together make a valid stream.
  sample_info=$("$plumo" --info "$sample")
  sample_seconds=$("$plumo" "$sample" - | wc -c |
    awk -v r="$(awk '/^sample rate:/ { print $3; exit }' <<<"$sample_info")" \
        -v c="$(awk '/^channels:/ { print $2; exit }' <<<"$sample_info")" \
        '{ printf "%.6f", $1 / (2 * c * r) }')
  copies=$(awk -v m="$minutes" -v s="$sample_seconds" 'BEGIN { n = int(m * 60 / s + 0.5); print (n < 1 ? 1 : n) }')
  file="$tmp/long_l2.mp2"
  for ((i = 0; i < copies; i++)); do cat "$sample"; done >"$file"
  echo "file: $copies copies of $(basename "$sample") ($(wc -c <"$file") bytes)"
else
  [[ -r "$file" ]] || { echo "cannot read $file" >&2; exit 1; }
  echo "file: $file ($(wc -c <"$file") bytes)"
fi

# --- audio duration, from the size of plumo's PCM (also warms the page cache) ----------------
info=$("$plumo" --info "$file")
rate=$(awk '/^sample rate:/ { print $3; exit }' <<<"$info")
channels=$(awk '/^channels:/ { print $2; exit }' <<<"$info")
if [[ -z "$rate" || -z "$channels" ]]; then
  echo "could not read sample rate / channels from plumo-decode --info:" >&2
  echo "$info" >&2
  exit 1
fi
plumo_bytes=$("$plumo" "$file" - | wc -c)
audio_seconds=$(awk -v b="$plumo_bytes" -v r="$rate" -v c="$channels" 'BEGIN { printf "%.3f", b / (2 * c * r) }')
echo "audio: $audio_seconds s ($rate Hz, $channels channel(s), from plumo's PCM)"
if ((have_ffmpeg)); then
  ff_bytes=$("$ffmpeg_bin" -v error -threads 1 -i "$file" -f s16le -acodec pcm_s16le - | wc -c)
  ff_seconds=$(awk -v x="$ff_bytes" -v r="$rate" -v c="$channels" 'BEGIN { printf "%.3f", x / (2 * c * r) }')
  echo "audio: $ff_seconds s according to ffmpeg's PCM"
fi

# --- timed runs, the two programs alternating in one loop -------------------------------------
# bash's own `time` keyword gives wall, user and system seconds to the millisecond.
TIMEFORMAT='%3R %3U %3S'
time_cmd() {  # time_cmd NAME CMD...: appends "wall user sys" to $tmp/NAME.times
  local name=$1; shift
  local t
  if ! t=$( { time "$@" >/dev/null 2>"$tmp/$name.err"; } 2>&1 ); then
    echo "$name failed:" >&2
    cat "$tmp/$name.err" >&2
    exit 1
  fi
  echo "$t" >>"$tmp/$name.times"
}
: >"$tmp/plumo.times"
: >"$tmp/ffmpeg.times"
for ((i = 0; i < runs; i++)); do
  # Swap which one goes first every other run, so neither always gets the warmer machine.
  if ((i % 2 == 0)); then time_cmd plumo "$plumo" "$file" -; fi
  if ((have_ffmpeg)); then time_cmd ffmpeg "$ffmpeg_bin" -v error -threads 1 -i "$file" -f null -; fi
  if ((i % 2 == 1)); then time_cmd plumo "$plumo" "$file" -; fi
done

# Best (minimum) wall time with the user and system CPU times of that same run, and the
# minimum user time over all runs.
best() {  # best NAME -> "wall user sys min_user"
  awk 'NR == 1 || $1 < w { w = $1; u = $2; s = $3 }
       NR == 1 || $2 < mu { mu = $2 }
       END { printf "%.3f %.3f %.3f %.3f\n", w, u, s, mu }' "$tmp/$1.times"
}
read -r p_wall p_user p_sys p_minuser < <(best plumo)
if ((have_ffmpeg)); then read -r f_wall f_user f_sys f_minuser < <(best ffmpeg); fi

echo
echo "best of $runs runs (wall clock), audio $audio_seconds s:"
printf '%-14s %8s %8s %8s %13s\n' program "wall s" "user s" "sys s" "x real time"
row() {
  awk -v n="$1" -v w="$2" -v u="$3" -v s="$4" -v a="$audio_seconds" \
    'BEGIN { printf "%-14s %8.3f %8.3f %8.3f %12.1fx\n", n, w, u, s, (w > 0 ? a / w : 0) }'
}
row plumo-decode "$p_wall" "$p_user" "$p_sys"
if ((have_ffmpeg)); then
  row "ffmpeg (1 thr)" "$f_wall" "$f_user" "$f_sys"
  echo
  awk -v pw="$p_wall" -v fw="$f_wall" -v pu="$p_minuser" -v fu="$f_minuser" 'BEGIN {
    printf "plumo/ffmpeg speed ratio (wall): %.2f   (>1: plumo faster)\n", (pw > 0 ? fw / pw : 0)
    if (pu > 0) printf "plumo/ffmpeg speed ratio (best user CPU): %.2f\n", fu / pu
  }'
else
  echo
  echo "ffmpeg not found (set FFMPEG=...): showing plumo's figure alone."
fi
exit 0
