#!/usr/bin/env bash
# Installs everything Pagiro needs to build, test and benchmark on Debian 12.
# Safe to run again: apt-get is only called for packages that are missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-translations-l10n
  libicu-dev libgif-dev libjpeg-dev libjpeg-turbo-progs libzip-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-arphic-uming fonts-wqy-zenhei fonts-noto-cjk
  libpng-dev
  xvfb xauth x11-apps imagemagick xdotool
  python3-pil python3 time bc
  clang libclang-rt-14-dev llvm
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
