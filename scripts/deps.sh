#!/usr/bin/env bash
# Installs the Debian packages that building and testing Kel needs, when missing.
set -euo pipefail
packages=(cmake ninja-build g++ libgtest-dev libbenchmark-dev libssl-dev clang libclang-rt-14-dev tmux libpng-dev libjpeg62-turbo-dev libgif-dev libtiff-dev libcurl4-openssl-dev libgtk-3-dev xvfb xauth fonts-dejavu-core xdotool xclip imagemagick)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
