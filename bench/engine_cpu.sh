#!/usr/bin/env bash
# CPU use of playing and idling, in per cent of one core, through a real PulseAudio server with a
# null sink, a real X server (Xvfb) and a notification area (trayer), all started here:
#
#   plumo-play FILE                     playing through the device a user gets (PulseAudio here)
#   plumo-play --device sdl FILE        playing through SDL
#   mpg123 -o pulse FILE                playing, the baseline (Debian's mpg123, only run)
#   plumo, panel shown, stopped
#   plumo, panel hidden, stopped
#   plumo, panel shown, playing FILE    (started with a click on its play button)
#   plumo, panel hidden, stopped, with a StatusNotifier notification area (KDE, GNOME with
#     AppIndicator): a session bus of its own (dbus-daemon) where bench's plumo_sni_watcher owns
#     org.kde.StatusNotifierWatcher with a host registered
#
# Each process is measured over the same window (default 30 s, after 3 s of settling) from the
# on-CPU time of all its threads (/proc/PID/task/*/schedstat, nanoseconds) and, as a check, from
# utime + stime of /proc/PID/stat (clock ticks). Wake-ups/s are the voluntary context switches
# of all threads. FILE is about a minute of 44.1 kHz stereo 128 kbit/s Layer III made by joining
# copies of a shipped sample.
#
# Usage: bench/engine_cpu.sh [--seconds S] [--build DIR]
# Needs: pulseaudio, pactl, mpg123, Xvfb, trayer, xdotool, dbus-daemon (scripts/install-deps.sh).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sample="$root/tests/data/samples/l3_m1_44k_128_joint_noinfo.mp3"
seconds=30
settle=3
build="$root/build"
while [[ $# -gt 0 ]]; do
  case "$1" in
    --seconds) seconds=${2:?}; shift 2 ;;
    --build) build=${2:?}; shift 2 ;;
    -h|--help) sed -n '2,22p' "$0"; exit 0 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done

for program in pulseaudio pactl mpg123 Xvfb trayer xdotool dbus-daemon; do
  command -v "$program" >/dev/null || { echo "missing $program (scripts/install-deps.sh)" >&2; exit 1; }
done
watcher="$build/bench/plumo_sni_watcher"
if [[ ! -x "$build/tools/plumo-play" || ! -x "$build/src/app/plumo" || ! -x "$watcher" ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
  cmake --build "$build" --target plumo-play plumo plumo_sni_watcher -j 2 >&2
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/plumo-engine-cpu.XXXXXX")
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT

# About a minute of sound (1.541 s per copy): longer than settling plus the window.
copies=$(awk -v s="$((seconds + settle + 20))" 'BEGIN { print int(s / 1.541) + 1 }')
file="$tmp/long.mp3"
for ((i = 0; i < copies; i++)); do cat "$sample"; done >"$file"

# The sound server: its own socket, state and runtime folders; clients reach only it.
mkdir -m 700 "$tmp/pulse" "$tmp/pulse/runtime" "$tmp/pulse/state"
echo "autospawn = no" >"$tmp/pulse/client.conf"
export PULSE_SERVER="unix:$tmp/pulse/native" PULSE_CLIENTCONFIG="$tmp/pulse/client.conf"
export SDL_AUDIODRIVER=pulseaudio
# No session bus but the one started below for its own rows.
unset DBUS_SESSION_BUS_ADDRESS
HOME="$tmp/pulse" XDG_RUNTIME_DIR="$tmp/pulse/runtime" PULSE_RUNTIME_PATH="$tmp/pulse/runtime" \
  PULSE_STATE_PATH="$tmp/pulse/state" \
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --realtime=no --high-priority=no \
  --log-target=stderr -L "module-null-sink sink_name=plumo_null" \
  -L "module-native-protocol-unix auth-anonymous=1 socket=$tmp/pulse/native" 2>"$tmp/pulse.log" &
pids+=($!)
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null 2>&1 || { echo "pulseaudio did not start:" >&2; cat "$tmp/pulse.log" >&2; exit 1; }

# The X server and the notification area.
mkfifo "$tmp/displayfd"
exec {displayfd}<>"$tmp/displayfd"
Xvfb -displayfd "$displayfd" -screen 0 800x600x24 -nolisten tcp -noreset 2>"$tmp/xvfb.log" &
pids+=($!)
read -r -t 10 number <&"$displayfd" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$number"
trayer --edge top --align right --widthtype pixel --width 120 --height 24 --transparent false \
  >/dev/null 2>&1 &
pids+=($!)
sleep 1

# Sum of the on-CPU nanoseconds of every thread, ticks of utime + stime, voluntary switches.
sample_cpu() {
  local pid=$1 ns=0 switches=0 t
  for t in /proc/"$pid"/task/*; do
    read -r run _ <"$t/schedstat" 2>/dev/null && ns=$((ns + run))
    switches=$((switches + $(awk '/^voluntary_ctxt_switches/ { print $2 }' "$t/status" 2>/dev/null || echo 0)))
  done
  local ticks
  ticks=$(awk '{ print $14 + $15 }' "/proc/$pid/stat")
  echo "$ns $ticks $switches"
}

hz=$(getconf CLK_TCK)
rows=()
# measure NAME PID: settles, then samples over the window.
measure() {
  local name=$1 pid=$2
  sleep "$settle"
  kill -0 "$pid" 2>/dev/null || { rows+=("$(printf '%-50s %10s' "$name" "ended early")"); return; }
  read -r ns0 ticks0 sw0 < <(sample_cpu "$pid")
  sleep "$seconds"
  read -r ns1 ticks1 sw1 < <(sample_cpu "$pid")
  rows+=("$(awk -v n="$name" -v a="$ns0" -v b="$ns1" -v t0="$ticks0" -v t1="$ticks1" -v w0="$sw0" -v w1="$sw1" \
    -v s="$seconds" -v hz="$hz" 'BEGIN {
      printf "%-50s %9.3f %% %9.3f %% %10.1f", n, 100 * (b - a) / (s * 1e9), 100 * (t1 - t0) / hz / s, (w1 - w0) / s }')")
}
stop() {
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

"$build/tools/plumo-play" "$file" >/dev/null 2>"$tmp/play.log" &
pid=$!
measure "plumo-play" "$pid"
stop "$pid"

"$build/tools/plumo-play" --device sdl "$file" >/dev/null 2>"$tmp/play.log" &
pid=$!
measure "plumo-play --device sdl" "$pid"
stop "$pid"

mpg123 -q -o pulse "$file" >/dev/null 2>&1 &
pid=$!
measure "mpg123 -o pulse" "$pid"
stop "$pid"

# The panel: a copy in a folder of its own, so that its settings file lies beside it.
mkdir "$tmp/panel"
cp "$build/src/app/plumo" "$tmp/panel/plumo"
panel() {
  local visible=$1
  printf '[Setup]\nLeft=100\nTop=100\nVisible=%s\n[Option]\nFileCount=1\nFile0=%s\n' "$visible" "$file" \
    >"$tmp/panel/plumo.INI"
  HOME="$tmp/panel" XDG_RUNTIME_DIR="$tmp/panel" QT_QPA_PLATFORM=xcb "$tmp/panel/plumo" \
    >"$tmp/panel.log" 2>&1 &
  pid=$!
  sleep 1
}
panel 1
measure "plumo panel shown, stopped" "$pid"
stop "$pid"
panel 0
measure "plumo panel hidden, stopped" "$pid"
stop "$pid"
panel 1
# One click on the play button (136,8 .. 154,26 on the panel at 100,100).
xdotool mousemove --sync 245 117 click 1
sleep 1.5
if ! pactl list short sink-inputs | grep -q .; then echo "the panel did not start playing" >&2; fi
measure "plumo panel shown, playing" "$pid"
stop "$pid"

# A StatusNotifier desktop: the tray icon goes to the watcher on a session bus of its own.
dbus-daemon --session --nofork --nopidfile --address="unix:path=$tmp/bus" >/dev/null 2>"$tmp/dbus.log" &
pids+=($!)
for _ in $(seq 100); do [[ -S "$tmp/bus" ]] && break; sleep 0.1; done
export DBUS_SESSION_BUS_ADDRESS="unix:path=$tmp/bus"
coproc watching { exec "$watcher"; }
pids+=($!)
read -r -t 10 ready <&"${watching[0]}" && [[ $ready == ready ]] || { echo "plumo_sni_watcher did not start" >&2; exit 1; }
panel 0
if command -v gdbus >/dev/null && ! gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
  -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems | grep -q Item; then
  echo "the panel's tray icon did not register with the StatusNotifier watcher" >&2
fi
measure "plumo panel hidden, stopped (StatusNotifier host)" "$pid"
stop "$pid"

printf '%-50s %11s %11s %10s\n' "over ${seconds} s" "%core" "(ticks)" "wake-ups/s"
printf '%s\n' "${rows[@]}"
