#!/usr/bin/env bash
# Whole-program decoding speed of plumo-decode beside mpg123 and ffmpeg (single-threaded), all
# three timed in one round-robin loop on the same files. Without --file it uses ten-minute files
# of four kinds, encoded once with ffmpeg from a synthetic music-like signal and kept in a media
# folder: Layer III 44.1 kHz 128 kbit/s joint stereo, Layer III 44.1 kHz 320 kbit/s, Layer III
# 22.05 kHz 64 kbit/s and Layer II 44.1 kHz 192 kbit/s. plumo-decode runs once per kernel form
# this processor has (scalar, AVX2, AVX-512), each a program of its own in the loop, and each gets
# a table against mpg123 and ffmpeg.
#
# Usage: bench/decode_speed.sh [--file PATH]... [--runs N] [--minutes M] [--media DIR] [--kernels FORMS]
# Environment: PLUMO_DECODE (path of plumo-decode, default build/tools/plumo-decode),
#              MPG123 (default: mpg123 from PATH), FFMPEG (default: ffmpeg from PATH).
# Needs bash, coreutils, awk and ffmpeg (to make the files); mpg123 is optional.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

usage() {
  cat <<USAGE
usage: $0 [--file PATH]... [--runs N] [--minutes M] [--media DIR] [--kernels FORMS]
  --file PATH    benchmark PATH as it is (repeatable); default: the four standard kinds
  --runs N       timed runs of each program on each file; the median is reported (default 5)
  --minutes M    length of the standard files in minutes (default 10)
  --media DIR    where the standard files are kept (default build/bench-media); files already
                 there are reused
  --kernels FORMS
                 comma-separated plumo-decode kernel forms to time, one table each (default
                 scalar,avx2,avx512); those this processor lacks are skipped
environment: PLUMO_DECODE=path/to/plumo-decode, MPG123=path/to/mpg123, FFMPEG=path/to/ffmpeg
USAGE
}

files=()
runs=5
minutes=10
media="$root/build/bench-media"
kernels=scalar,avx2,avx512
while [[ $# -gt 0 ]]; do
  case "$1" in
    --file) files+=("${2:?--file needs a path}"); shift 2 ;;
    --runs) runs=${2:?--runs needs a number}; shift 2 ;;
    --minutes) minutes=${2:?--minutes needs a number}; shift 2 ;;
    --media) media=${2:?--media needs a folder}; shift 2 ;;
    --kernels) kernels=${2:?--kernels needs a list of forms}; shift 2 ;;
    -h|--help) usage; exit 0 ;;
    *) echo "unknown argument: $1" >&2; usage >&2; exit 2 ;;
  esac
done
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "--runs must be a positive integer" >&2; exit 2; }
[[ "$minutes" =~ ^[1-9][0-9]*$ ]] || { echo "--minutes must be a positive whole number" >&2; exit 2; }

# --- the programs -------------------------------------------------------------------------------
plumo=${PLUMO_DECODE:-"$root/build/tools/plumo-decode"}
if [[ ! -x "$plumo" ]]; then
  if [[ -n "${PLUMO_DECODE:-}" ]]; then
    echo "PLUMO_DECODE=$PLUMO_DECODE is not an executable file" >&2
    exit 1
  fi
  echo "building plumo-decode ..." >&2
  cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
  cmake --build "$root/build" --target plumo-decode -j 2 >&2
fi
ffmpeg_bin=${FFMPEG:-ffmpeg}
mpg123_bin=${MPG123:-mpg123}
have_ffmpeg=1
command -v "$ffmpeg_bin" >/dev/null 2>&1 || have_ffmpeg=0
have_mpg123=1
command -v "$mpg123_bin" >/dev/null 2>&1 || have_mpg123=0

tmp=$(mktemp -d "${TMPDIR:-/tmp}/plumo-bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# --- the standard files -------------------------------------------------------------------------
# name | label | ffmpeg output options
kinds=(
  "l3_44k_128_joint.mp3|Layer III 44.1 kHz 128 kbit/s joint|-ar 44100 -c:a libmp3lame -b:a 128k -joint_stereo 1"
  "l3_44k_320.mp3|Layer III 44.1 kHz 320 kbit/s|-ar 44100 -c:a libmp3lame -b:a 320k"
  "l3_22k_64.mp3|Layer III 22.05 kHz 64 kbit/s|-ar 22050 -c:a libmp3lame -b:a 64k"
  "l2_44k_192.mp2|Layer II 44.1 kHz 192 kbit/s|-ar 44100 -c:a mp2 -b:a 192k"
)

# One minute of a stereo signal with tones that glide and decay (transients for short blocks)
# over pink noise, repeated to the wanted length while encoding.
make_source() {
  local out=$1
  "$ffmpeg_bin" -hide_banner -v error \
    -f lavfi -i "aevalsrc=0.22*sin(2*PI*(220+40*sin(2*PI*0.13*t))*t)*exp(-6*mod(t\,0.5))+0.12*sin(2*PI*661*t)*(0.6+0.4*sin(2*PI*0.3*t))|0.22*sin(2*PI*(330+50*sin(2*PI*0.11*t))*t)*exp(-5*mod(t+0.25\,0.5))+0.1*sin(2*PI*990*t):s=44100:d=60" \
    -f lavfi -i "anoisesrc=color=pink:amplitude=0.15:seed=7:r=44100:d=60" \
    -f lavfi -i "anoisesrc=color=pink:amplitude=0.15:seed=8:r=44100:d=60" \
    -filter_complex "[1][2]amerge=inputs=2,aformat=channel_layouts=stereo[noise];[0]aformat=channel_layouts=stereo[tones];[tones][noise]amix=inputs=2:normalize=0" \
    -c:a pcm_s16le -y "$out"
}

labels=()
if [[ ${#files[@]} -eq 0 ]]; then
  ((have_ffmpeg)) || { echo "ffmpeg is needed to make the standard files (or give --file)" >&2; exit 1; }
  mkdir -p "$media"
  for kind in "${kinds[@]}"; do
    IFS='|' read -r name label options <<<"$kind"
    file="$media/${minutes}min_$name"
    if [[ ! -s "$file" ]]; then
      [[ -s "$tmp/source.wav" ]] || { echo "making the source signal ..." >&2; make_source "$tmp/source.wav"; }
      echo "encoding $file ..." >&2
      # shellcheck disable=SC2086  # the options are words
      "$ffmpeg_bin" -hide_banner -v error -stream_loop -1 -i "$tmp/source.wav" -t $((minutes * 60)) \
        $options -y "$tmp/$name"
      mv "$tmp/$name" "$file"
    fi
    files+=("$file")
    labels+=("$label")
  done
else
  for f in "${files[@]}"; do
    [[ -r "$f" ]] || { echo "cannot read $f" >&2; exit 1; }
    labels+=("$(basename "$f")")
  done
fi

# --- timing -------------------------------------------------------------------------------------
# The kernel forms plumo-decode runs here: it refuses one the processor lacks.
forms=()
IFS=',' read -r -a wanted <<<"$kernels"
for form in "${wanted[@]}"; do
  if "$plumo" --kernels "$form" --info "${files[0]}" >/dev/null 2>"$tmp/probe.err"; then
    forms+=("$form")
  else
    echo "skipped: $(head -n 1 "$tmp/probe.err")" >&2
  fi
done
[[ ${#forms[@]} -gt 0 ]] || { echo "plumo-decode runs none of the kernel forms $kernels here" >&2; exit 1; }

# plumo-decode writes raw PCM to an OUT ending in .pcm: a symlink so named sends it to /dev/null.
ln -s /dev/null "$tmp/null.pcm"
# run_program PROGRAM FILE: plumo-FORM, mpg123 or ffmpeg decoding FILE, its PCM thrown away.
run_program() {
  case "$1" in
    plumo-*) "$plumo" --kernels "${1#plumo-}" "$2" "$tmp/null.pcm" ;;
    mpg123) "$mpg123_bin" -q -s "$2" >/dev/null ;;
    ffmpeg) "$ffmpeg_bin" -v error -threads 1 -i "$2" -f s16le -y /dev/null ;;
  esac
}

programs=()
for form in "${forms[@]}"; do programs+=("plumo-$form"); done
((have_mpg123)) && programs+=(mpg123)
((have_ffmpeg)) && programs+=(ffmpeg)

TIMEFORMAT='%3U %3S'
# time_one PROGRAM INDEX: appends the CPU seconds (user + system) to $tmp/PROGRAM.INDEX
time_one() {
  local program=$1 index=$2 t
  if ! t=$( { time run_program "$program" "${files[index]}" 2>"$tmp/$program.err"; } 2>&1 ); then
    echo "$program failed on ${files[index]}:" >&2
    cat "$tmp/$program.err" >&2
    exit 1
  fi
  awk '{ printf "%.3f\n", $1 + $2 }' <<<"$t" >>"$tmp/$program.$index"
}
median() { sort -g "$1" | awk '{ v[NR] = $1 } END { m = int((NR + 1) / 2); print (NR % 2 ? v[m] : (v[m] + v[m + 1]) / 2) }'; }

# Warm the page cache, then the round robin: every run visits every file, and the programs take
# turns at going first.
for f in "${files[@]}"; do cat "$f" >/dev/null; done
count=${#programs[@]}
for ((run = 0; run < runs; run++)); do
  for ((i = 0; i < ${#files[@]}; i++)); do
    for ((k = 0; k < count; k++)); do time_one "${programs[(run + k) % count]}" "$i"; done
  done
done

# --- the tables ---------------------------------------------------------------------------------
mpg123_label="mpg123"
if ((have_mpg123)); then
  version=$("$mpg123_bin" --version 2>/dev/null | awk '{ print $2; exit }')
  decoder=$("$mpg123_bin" -v -t "${files[0]}" 2>&1 >/dev/null | awk -F': ' '/^Decoder:/ { print $2; exit }')
  decoder=${decoder##*(}
  decoder=${decoder%)}
  mpg123_label="mpg123 ${version%.*}${decoder:+ ($decoder)}"
fi
echo "CPU seconds (user + system, median of $runs runs in one round robin), plumo = 1.00"
header="| file | plumo |"
rule="|---|---|"
((have_mpg123)) && header+=" $mpg123_label |" && rule+="---|"
((have_ffmpeg)) && header+=" ffmpeg -threads 1 |" && rule+="---|"
header+=" plumo CPU s |"
rule+="---|"
for form in "${forms[@]}"; do
  echo
  echo "plumo-decode --kernels $form"
  echo
  echo "$header"
  echo "$rule"
  for ((i = 0; i < ${#files[@]}; i++)); do
    p=$(median "$tmp/plumo-$form.$i")
    row="| ${labels[i]} | 1.00 |"
    for program in mpg123 ffmpeg; do
      [[ -s "$tmp/$program.$i" ]] || continue
      row+=$(awk -v o="$(median "$tmp/$program.$i")" -v p="$p" 'BEGIN { printf " %.2f |", (p > 0 ? o / p : 0) }')
    done
    row+=" $p |"
    echo "$row"
  done
done
echo
echo "Figures above 1.00: the other program needs more CPU than plumo; 1.50 = plumo is 1.5x as fast."
((have_mpg123)) || echo "mpg123 not found (set MPG123=...): no mpg123 column."
((have_ffmpeg)) || echo "ffmpeg not found (set FFMPEG=...): no ffmpeg column."
exit 0
