#!/usr/bin/env bash
# Sets everything up, builds, and runs Pagiro: the window when there is a display,
# otherwise a conversion of the sample text with the default settings.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --target pagiro
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/pagiro
fi
echo "No display: converting samples/sample.txt into ./电子书 with the window's default settings."
exec build/pagiro convert samples/sample.txt
