#!/usr/bin/env bash
# Installs the Debian packages the project needs to build and test, when they are missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsdl2-dev  # sound output where no PulseAudio server answers
  libpulse-dev  # sound output straight to PulseAudio (or PipeWire's pulse server)
  libcurl4-openssl-dev  # network streams (http, https)
  libebur128-dev  # the loudness meter (EBU R128) behind measured ReplayGain
  python3  # the tests' own loopback radio server
  clang libclang-rt-14-dev  # libFuzzer targets
  ffmpeg  # reference decoder for tests and benchmarks
  qt6-base-dev libgl-dev libxcb1-dev  # the panel (Qt 6 Widgets; find_package(Qt6) needs the GL headers)
  qt6-qpa-plugins  # Qt's xcb and offscreen platforms at run time
  qt6-l10n-tools qt6-tools-dev qt6-tools-dev-tools  # lupdate/lrelease and their CMake support: the panel's translations
  qt6-translations-l10n  # Qt's own texts (message-box buttons) in the user's language
  xvfb xauth trayer x11-utils imagemagick xdotool  # a real X server, notification area, screenshots and mouse for the panel's tests
  fonts-ipafont-gothic fonts-liberation2  # the panel's Japanese font; the about box's serif (Times New Roman metrics)
  dbus-daemon playerctl libglib2.0-bin  # a session bus of the tests' own and real MPRIS clients (playerctl, gdbus)
  pulseaudio pulseaudio-utils  # a real sound server (null sink) for the sound-output tests and bench/engine_cpu.sh
  icecast2 curl  # a real internet radio station on loopback (fed by ffmpeg) and its admin requests, for the radio tests
  mpg123  # the playing baseline of bench/engine_cpu.sh (run only)
  man-db bsdextrautils  # the manual pages test renders them (man, col)
  at-spi2-core python3-pyatspi  # the screen-reader test reads the panel over AT-SPI
  appstream desktop-file-utils  # the metainfo and the desktop entry are validated in the tests
  dpkg-dev fakeroot lintian  # scripts/package.sh: the Debian package's dependencies, its build and its check
  twolame  # Layer II test files for the loudness tests (run only)
  lame sox  # test files cut at chosen samples and encoded at test time (run only)
  python3-mutagen mp3gain  # real taggers writing ReplayGain, APEv2 and picture tags in the tests (run only)
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
