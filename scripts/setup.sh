#!/usr/bin/env bash
# Installs the Debian 12 packages Vantorel needs to build, run and test.
# Run as root (or through sudo); packages already present are skipped.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-multimedia-dev qt6-svg-dev qt6-qpa-plugins libgl-dev
  qcoro-qt6-dev nlohmann-json3-dev qtkeychain-qt6-dev
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev ffmpeg
  libpulse-dev
  gnome-keyring dbus dbus-x11 libsecret-1-0
  fonts-dejavu-core
  # Transcripts and titles in Thai and the other scripts people stream in; the
  # screenshots keep drawing with DejaVu so that they stay the same.
  fonts-noto-core
  # Tests only: a sound server with no output device, where the player must still show the picture,
  # and its tools, which give it a null output and record what plays there.
  pulseaudio pulseaudio-utils
  # Tests only: the sound tests run once more on PipeWire's pulse server.
  pipewire pipewire-pulse wireplumber
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: every package is installed."
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "setup: installing ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
