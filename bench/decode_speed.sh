#!/usr/bin/env bash
# Whole-program decoding speed of plumo-decode beside ffmpeg's on the same files, in one run.
# Without --file it builds long files by joining copies of shipped samples and runs the standard
# set: Layer III 44.1 kHz joint stereo 128 kbit/s, Layer III 48 kHz 320 kbit/s, Layer III MPEG-2
# 22.05 kHz and Layer II 44.1 kHz.
#
# Usage: bench/decode_speed.sh [--file PATH | --sample NAME] [--runs N] [--minutes M]
# Environment: PLUMO_DECODE (path of plumo-decode, default build/tools/plumo-decode),
#              FFMPEG (default: ffmpeg from PATH).
# Needs only bash, coreutils, awk and (optionally) ffmpeg.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
samples="$root/tests/data/samples"
standard_set=(l3_m1_44k_128_joint_noinfo.mp3 l3_m1_48k_320_stereo.mp3 l3_m2_22k_32_mono.mp3
              l2_m1_44k_112_joint.mp2)

usage() {
  cat <<USAGE
usage: $0 [--file PATH | --sample NAME] [--runs N] [--minutes M]
  --file PATH    benchmark PATH as it is
  --sample NAME  benchmark copies of tests/data/samples/NAME joined to --minutes of audio
                 (default: the standard set ${standard_set[*]})
  --runs N       timed runs of each program; the median is reported (default 5)
  --minutes M    length of the joined files in minutes (default 10)
environment: PLUMO_DECODE=path/to/plumo-decode, FFMPEG=path/to/ffmpeg
USAGE
}

file=""
sample_names=()
runs=5
minutes=10
while [[ $# -gt 0 ]]; do
  case "$1" in
    --file) file=${2:?--file needs a path}; shift 2 ;;
    --sample) sample_names+=("${2:?--sample needs a name}"); shift 2 ;;
    --runs) runs=${2:?--runs needs a number}; shift 2 ;;
    --minutes) minutes=${2:?--minutes needs a number}; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) echo "unknown argument: $1" >&2; usage >&2; exit 2 ;;
  esac
done
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "--runs must be a positive integer" >&2; exit 2; }
[[ "$minutes" =~ ^[0-9]+([.][0-9]+)?$ ]] || { echo "--minutes must be a number" >&2; exit 2; }
[[ ${#sample_names[@]} -eq 0 ]] && sample_names=("${standard_set[@]}")

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

# info_field FILE LABEL: a value of plumo-decode --info.
info_field() { "$plumo" --info "$1" | awk -v l="$2" -F': *' '$1 == l { split($2, a, " "); print a[1]; exit }'; }

# pcm_seconds FILE: audio seconds, from the size of plumo's PCM (also warms the page cache).
pcm_seconds() {
  local rate channels bytes
  rate=$(info_field "$1" "sample rate")
  channels=$(info_field "$1" "channels")
  bytes=$("$plumo" "$1" - | wc -c)
  awk -v b="$bytes" -v r="$rate" -v c="$channels" 'BEGIN { printf "%.3f", b / (2 * c * r) }'
}

# joined NAME: a file of about --minutes made of whole copies of a sample. Layer II frames stand
# alone; Layer III frames at each joint may take a few reservoir bytes from the copy before,
# which changes the sound there, not the work.
joined() {
  local sample="$samples/$1" seconds copies out="$tmp/$1"
  [[ -r "$sample" ]] || { echo "no such sample: $sample" >&2; exit 1; }
  seconds=$(pcm_seconds "$sample")
  copies=$(awk -v m="$minutes" -v s="$seconds" 'BEGIN { n = int(m * 60 / s + 0.5); print (n < 1 ? 1 : n) }')
  for ((i = 0; i < copies; i++)); do cat "$sample"; done >"$out"
  echo "$out"
}

# --- timing: bash's `time` keyword gives wall, user and system seconds --------------------------
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
# median NAME -> "wall cpu" (the medians of wall time and of user + system time)
median() {
  local w c
  w=$(awk '{ print $1 }' "$tmp/$1.times" | sort -g | awk '{ v[NR] = $1 } END { m = int((NR + 1) / 2); print (NR % 2 ? v[m] : (v[m] + v[m + 1]) / 2) }')
  c=$(awk '{ print $2 + $3 }' "$tmp/$1.times" | sort -g | awk '{ v[NR] = $1 } END { m = int((NR + 1) / 2); print (NR % 2 ? v[m] : (v[m] + v[m + 1]) / 2) }')
  echo "$w $c"
}

# plumo-decode writes raw PCM to an OUT ending in .pcm: a symlink so named sends it to /dev/null.
ln -s /dev/null "$tmp/null.pcm"
time_target="$tmp/null.pcm"
bench_file() {  # bench_file PATH LABEL
  local f=$1 label=$2 audio
  audio=$(pcm_seconds "$f")
  : >"$tmp/plumo.times"
  : >"$tmp/ffmpeg.times"
  for ((i = 0; i < runs; i++)); do
    if ((i % 2 == 0)); then time_cmd plumo "$plumo" "$f" "$time_target"; fi
    if ((have_ffmpeg)); then time_cmd ffmpeg "$ffmpeg_bin" -v error -threads 1 -i "$f" -f s16le -y /dev/null; fi
    if ((i % 2 == 1)); then time_cmd plumo "$plumo" "$f" "$time_target"; fi
  done
  local p_wall p_cpu f_wall=0 f_cpu=0
  read -r p_wall p_cpu < <(median plumo)
  ((have_ffmpeg)) && read -r f_wall f_cpu < <(median ffmpeg)
  awk -v l="$label" -v a="$audio" -v pw="$p_wall" -v pc="$p_cpu" -v fc="$f_cpu" 'BEGIN {
    printf "%-34s %7.1f %9.3f %9.0fx %9.3f %9.0fx %8s\n", l, a, pc, (pc > 0 ? a / pc : 0), fc,
           (fc > 0 ? a / fc : 0), (fc > 0 ? sprintf("%.2f", pc / fc) : "-") }'
}

echo "median of $runs runs each, the two programs alternating; CPU = user + system seconds"
printf '%-34s %7s %9s %10s %9s %10s %8s\n' file "audio s" "plumo CPU" "x real" "ffmpeg CPU" "x real" "ratio"
if [[ -n "$file" ]]; then
  [[ -r "$file" ]] || { echo "cannot read $file" >&2; exit 1; }
  bench_file "$file" "$(basename "$file")"
else
  for name in "${sample_names[@]}"; do bench_file "$(joined "$name")" "$name x$minutes min"; done
fi
echo
echo "ratio = plumo CPU / ffmpeg CPU (below 1: plumo needs less)"
((have_ffmpeg)) || echo "ffmpeg not found (set FFMPEG=...): plumo's figures alone."
exit 0
