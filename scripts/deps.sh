#!/usr/bin/env bash
# Installs the Debian packages Tamberlune builds, runs and tests with, when
# any is missing. Safe to run again.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  libsdl2-dev libepoxy-dev libpng-dev libjpeg-dev libfreetype-dev libfontconfig-dev
  libopenal-dev libsndfile1-dev libasound2-dev libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  glslang-dev glslang-tools spirv-cross libspirv-cross-c-shared-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-ipafont-gothic libgl1-mesa-dri libegl-mesa0 xvfb xdotool imagemagick zenity
  clang libclang-rt-14-dev libx11-dev dbus-daemon dbus-bin acl attr
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
