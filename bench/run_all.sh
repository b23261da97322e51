#!/usr/bin/env bash
# The whole benchmark in one command: builds, makes its inputs, then runs side by
# side and prints every figure and ratio:
#   - our JPEG encoder against libjpeg-turbo (bench/jpeg_bench);
#   - a whole novel (~1.5 million characters, ~25,000 default JPEG pages) through
#     our command line, a Pillow script doing the same job, and the floor of only
#     writing the same files; with our peak memory.
# Usage: bench/run_all.sh [characters]   (setup is skipped when PAGIRO_NO_SETUP=1)
set -euo pipefail
cd "$(dirname "$0")/.."
chars=${1:-1500000}
[ "${PAGIRO_NO_SETUP:-0}" = 1 ] || bash scripts/setup.sh >/dev/null
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPAGIRO_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench --target pagiro jpeg_bench write_floor window_bench >/dev/null

work=$(mktemp -d /tmp/pagiro-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 bench/make_novel.py "$work/novel.txt" "$chars"
font=$(fc-match -f '%{file}' 'AR PL UMing CN')

echo "== machine"
echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(date -u +%Y-%m-%d)"
grep -qw avx2 /proc/cpuinfo && echo "AVX2: yes" || echo "AVX2: no"

echo
echo "== encoder (MP/s, side by side in one process)"
build-bench/bench/jpeg_bench

echo
echo "== runs: $chars characters, default pages, JPEG"
seconds() { /usr/bin/env python3 -c "import sys; print(f'{float(sys.argv[1]):.2f}')" "$1"; }
start=$(date +%s.%N)
/usr/bin/time -f "%M" -o "$work/rss" build-bench/pagiro convert "$work/novel.txt" -o "$work/ours" --format jpg --quiet >/dev/null
ours=$(echo "$(date +%s.%N) - $start" | bc)
pages=$(ls "$work/ours" | wc -l)

start=$(date +%s.%N)
/usr/bin/python3 bench/pillow_pages.py "$work/novel.txt" "$work/pillow" "$font" >/dev/null
pillow=$(echo "$(date +%s.%N) - $start" | bc)
pillow_pages=$(ls "$work/pillow" | wc -l)

floor_line=$(build-bench/bench/write_floor "$work/ours" "$work/floor")
floor=$(echo "$floor_line" | sed -E 's/.* in ([0-9.]+) s.*/\1/')

start=$(date +%s.%N)
QT_QPA_PLATFORM=offscreen build-bench/bench/window_bench "$work/novel.txt" "$work/window" >/dev/null
window=$(echo "$(date +%s.%N) - $start" | bc)

awk -v p="$pages" -v o="$ours" -v pp="$pillow_pages" -v pl="$pillow" -v f="$floor" -v w="$window" -v rss="$(cat "$work/rss")" 'BEGIN {
  printf "ours (command line): %d pages in %.2f s = %.0f pages/s, peak memory %.1f MB\n", p, o, p/o, rss/1024;
  printf "ours (window):       %d pages in %.2f s = %.0f pages/s\n", p, w, p/w;
  printf "Pillow script:       %d pages in %.2f s = %.0f pages/s\n", pp, pl, pp/pl;
  printf "write-only floor:    %d files in %.2f s = %.0f files/s\n", p, f, p/f;
  printf "ours / Pillow (pages per second): %.2fx   (goal: at least 10x)\n", (p/o)/(pp/pl);
  printf "ours / floor (time):               %.2fx   (goal: at most 3x)\n", o/f;
  printf "window / command line (time):      %.2fx   (goal: at most 1.5x)\n", w/o;
}'
