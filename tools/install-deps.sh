#!/usr/bin/env bash
# Installs the build and test dependencies on a Debian 12 machine (run as root).
# Quick when everything is already there: only missing packages trigger apt-get.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config make
  # The framework patches (framework/) are applied with patch.
  patch
  clang libclang-rt-14-dev
  juce-modules-source
  libeigen3-dev nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils
  # The real-window host tests: a window manager, screen capture (xwd) and its conversion, pointer events.
  openbox x11-apps netpbm xdotool
  libasound2-dev libfreetype-dev libfontconfig1-dev libx11-dev libxcomposite-dev
  libxcursor-dev libxext-dev libxinerama-dev libxrandr-dev libxrender-dev
  libcurl4-openssl-dev libgl-dev
  python3
  # tools/make_background.py draws with Pillow.
  python3-pil
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
$SUDO apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
