#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the data tools need. Idempotent.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  juce-modules-source libeigen3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libasound2-dev libfreetype-dev libfontconfig1-dev libcurl4-gnutls-dev
  libx11-dev libxext-dev libxinerama-dev libxrandr-dev libxcursor-dev
  libjpeg-dev libpng-dev zlib1g-dev
  xvfb xauth openbox qemu-user
  python3 python3-numpy python3-scipy python3-torch python3-matplotlib python3-pil
  povray fonts-play
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo_cmd apt-get -o DPkg::Lock::Timeout=600 update -qq
$sudo_cmd apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
