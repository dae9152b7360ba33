#!/usr/bin/env bash
# Installs the Debian packages Layerdeck builds, tests and runs with.
# With a group name (see below) it installs only that group.
# Idempotent: asks dpkg first and touches apt only when something is missing.
set -euo pipefail

PACKAGES=(
  # build
  g++ cmake ninja-build pkg-config git
  # libraries
  qt6-base-dev libqt6opengl6-dev libgl-dev libegl-dev libgl1-mesa-dri
  libsdl2-dev libpng-dev zlib1g-dev
  libogg-dev libtheora-dev libvorbis-dev libvpx-dev libwebm-dev
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  fonts-ipafont-gothic fonts-dejavu-core
  # tests and tools
  libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg xvfb xauth x11-utils xdotool imagemagick
  clang clang-format libclang-rt-14-dev
)

# Optional groups, named on the command line; never asked for by test.sh or run.sh.
#   bench: what the layer playback benchmark compares against (the compositor, MP4
#          demuxer and H.264 decoder plug-ins and gst-launch-1.0).
for group in "$@"; do
  case "$group" in
    bench)
      PACKAGES=(gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-libav)
      ;;
    *)
      echo "install-deps: unknown group '$group' (known: bench)" >&2
      exit 2
      ;;
  esac
done

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
