#!/usr/bin/env bash
# The whole benchmark in one command: builds, makes its inputs, then runs side by
# side and prints every figure and ratio:
#   - our JPEG encoder against libjpeg-turbo (bench/jpeg_bench);
#   - a whole novel (~1.5 million characters, ~25,000 default JPEG pages) through
#     our command line, a Pillow script doing the same job, and the floor of only
#     writing the same files; with our peak memory;
#   - the same novel as typeset 480 x 800 8-bit grey PNG pages, ours against a
#     Pillow script with a comparable greedy layout (bench/typeset_pillow.py);
#   - the same novel as one XTCH book (with and without its contents pages) against
#     the loose PNG pages of the same settings, and against a Pillow script packing
#     the same pages into an XTCH book (bench/xtch_pillow.py);
#   - the window's preview on a 30 MB novel: how soon it follows a setting change
#     on page 1 and page 5,000, and how long typing waits for it
#     (bench/preview_bench);
#   - big pages: one 4000 x 3000 page over a photo-like background picture, whole
#     process, against cjpeg on the same picture; a plain white page of that size;
#     peak memory of runs of large pages against their bound.
# Usage: bench/run_all.sh [characters]   (setup is skipped when PAGIRO_NO_SETUP=1;
# PAGIRO_BENCH_ROUNDS sets how many rounds of our runs and the floor, default 3;
# PAGIRO_BENCH_PILLOW_PAGES stops the typeset Pillow script after that many pages;
# PAGIRO_BENCH_BOOK_PILLOW_PAGES stops the book's Pillow script, default 500;
# PAGIRO_BENCH_SECTIONS picks sections: any of "encoder runs typeset preview books big", default all)
set -euo pipefail
cd "$(dirname "$0")/.."
chars=${1:-1500000}
rounds=${PAGIRO_BENCH_ROUNDS:-3}
sections=" ${PAGIRO_BENCH_SECTIONS:-encoder runs typeset preview books big} "
wants() { [[ "$sections" == *" $1 "* ]]; }
[ "${PAGIRO_NO_SETUP:-0}" = 1 ] || bash scripts/setup.sh >/dev/null
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPAGIRO_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench --target pagiro jpeg_bench write_floor window_bench preview_bench >/dev/null

# PAGIRO_BENCH_DIR chooses the file system the pages go to (e.g. /dev/shm, to take
# the disk out of the figures); each step starts after a sync, so that the writing
# left behind by one does not land on the next.
work=$(mktemp -d "${PAGIRO_BENCH_DIR:-/tmp}/pagiro-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 bench/make_novel.py "$work/novel.txt" "$chars"
font=$(fc-match -f '%{file}' 'AR PL UMing CN')

echo "== machine"
echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(date -u +%Y-%m-%d)"
grep -qw avx2 /proc/cpuinfo && echo "AVX2: yes" || echo "AVX2: no"

if wants encoder; then
echo
echo "== encoder (MP/s, side by side in one process)"
build-bench/bench/jpeg_bench
fi

if wants runs; then
echo
echo "== runs: $chars characters, default pages, JPEG (our runs and the floor: median of $rounds rounds)"
echo "pages written to $work ($(df --output=fstype "$work" | tail -1))"
seconds_since() { echo "$(date +%s.%N) - $1" | bc; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ours_times=() window_times=() floor_times=() rss=0
for round in $(seq 1 "$rounds"); do
  rm -rf "$work/ours" "$work/window" "$work/floor"
  sync
  start=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$work/rss" build-bench/pagiro convert "$work/novel.txt" -o "$work/ours" --format jpg --quiet >/dev/null
  ours_times+=("$(seconds_since "$start")")
  sync
  rss=$(( $(cat "$work/rss") > rss ? $(cat "$work/rss") : rss ))

  start=$(date +%s.%N)
  QT_QPA_PLATFORM=offscreen build-bench/bench/window_bench "$work/novel.txt" "$work/window" >/dev/null 2>&1
  window_times+=("$(seconds_since "$start")")
  sync

  floor_line=$(build-bench/bench/write_floor "$work/ours" "$work/floor")
  floor_times+=("$(echo "$floor_line" | sed -E 's/.* in ([0-9.]+) s.*/\1/')")
done
pages=$(ls "$work/ours" | wc -l)
ours=$(median "${ours_times[@]}")
window=$(median "${window_times[@]}")
floor=$(median "${floor_times[@]}")
echo "rounds (s): ours ${ours_times[*]}; window ${window_times[*]}; floor ${floor_times[*]}"

rm -rf "$work/window"
# Half a second in: well inside a run of the whole novel, which takes about one.
stop=$(QT_QPA_PLATFORM=offscreen build-bench/bench/window_bench "$work/novel.txt" "$work/window" 0.5 2>/dev/null | grep 'stop answered' || true)
echo "window, stop pressed 0.5 s into a run: ${stop:-no answer (the run was over)}   (goal: within 100 ms)"

sync
start=$(date +%s.%N)
/usr/bin/python3 bench/pillow_pages.py "$work/novel.txt" "$work/pillow" "$font" >/dev/null
pillow=$(seconds_since "$start")
pillow_pages=$(ls "$work/pillow" | wc -l)

awk -v p="$pages" -v o="$ours" -v pp="$pillow_pages" -v pl="$pillow" -v f="$floor" -v w="$window" -v rss="$rss" 'BEGIN {
  printf "ours (command line): %d pages in %.2f s = %.0f pages/s, peak memory %.1f MB\n", p, o, p/o, rss/1024;
  printf "ours (window):       %d pages in %.2f s = %.0f pages/s\n", p, w, p/w;
  printf "Pillow script:       %d pages in %.2f s = %.0f pages/s\n", pp, pl, pp/pl;
  printf "write-only floor:    %d files in %.2f s = %.0f files/s\n", p, f, p/f;
  printf "ours / Pillow (pages per second): %.2fx   (goal: at least 12x)\n", (p/o)/(pp/pl);
  printf "ours / floor (time):               %.2fx   (goal: at most 3x)\n", o/f;
  printf "window / command line (time):      %.2fx   (goal: at most 1.5x)\n", w/o;
}'
fi

if wants typeset; then
echo
echo "== typeset pages: $chars characters, 480 x 800, 8-bit grey PNG (wall and CPU seconds)"
# Both sides are timed by the same clock and the same CPU count; the CPU figure
# holds steady when other work shares the machine.
rm -rf "$work/ours" "$work/pillow"
sync
/usr/bin/time -f "%e %U %S %M" -o "$work/ts_time" \
  build-bench/pagiro convert "$work/novel.txt" -o "$work/ours" --layout typeset --format png --quiet >/dev/null
read -r ts_wall ts_user ts_sys ts_rss <"$work/ts_time"
ts_pages=$(ls "$work/ours" | wc -l)
rm -rf "$work/ours"
sync
/usr/bin/time -f "%e %U %S" -o "$work/pil_time" \
  /usr/bin/python3 bench/typeset_pillow.py "$work/novel.txt" "$work/pillow" ${PAGIRO_BENCH_PILLOW_PAGES:-} >/dev/null
read -r pil_wall pil_user pil_sys <"$work/pil_time"
pil_pages=$(ls "$work/pillow" | wc -l)
awk -v p="$ts_pages" -v w="$ts_wall" -v c="$(echo "$ts_user + $ts_sys" | bc)" -v rss="$ts_rss" \
    -v pp="$pil_pages" -v pw="$pil_wall" -v pc="$(echo "$pil_user + $pil_sys" | bc)" 'BEGIN {
  printf "ours (command line): %d pages in %.2f s = %.0f pages/s (CPU %.2f s = %.0f pages/CPU-s), peak memory %.1f MB\n", p, w, p/w, c, p/c, rss/1024;
  printf "Pillow script:       %d pages in %.2f s = %.1f pages/s (CPU %.2f s = %.1f pages/CPU-s)\n", pp, pw, pp/pw, pc, pp/pc;
  printf "ours / Pillow (pages per second): %.1fx wall, %.1fx CPU   (goal: at least 10x)\n", (p/w)/(pp/pw), (p/c)/(pp/pc);
}'
fi

if wants preview; then
echo
echo "== preview: a 30 MB novel (11.5 million characters) in the window (offscreen), font size changed"
/usr/bin/python3 bench/make_novel.py "$work/novel30.txt" 11500000
QT_QPA_PLATFORM=offscreen build-bench/bench/preview_bench "$work/novel30.txt" 2>/dev/null
echo "(goal: page 1 within 100 ms of the change)"
fi

if wants big; then
echo
echo "== big pages: 4000 x 3000, whole process (median of $rounds rounds; wall and CPU seconds)"
# The picture: the encoder benchmark's photo-like one, stored as a JPEG and decoded
# again to the BMP cjpeg reads. Ours makes the page over that same BMP file (the
# like-for-like figure), and over the JPEG, which it must decode first.
build-bench/bench/jpeg_bench --photo "$work/photo.ppm"
cjpeg -quality 95 -outfile "$work/photo.jpg" "$work/photo.ppm"
djpeg -bmp -outfile "$work/photo.bmp" "$work/photo.jpg"
printf '第一章\n一页短短的文字。\n' >"$work/short.txt"
big=(build-bench/pagiro convert "$work/short.txt" -o "$work/big_out" --quiet --format jpg --width 4000 --height 3000)
# Every round runs the five in turn (bench/alternate.py), medians of the rounds.
/usr/bin/python3 bench/alternate.py "$rounds" "$work/big_out" \
  ours -- "${big[@]}" --background-picture "$work/photo.bmp" \
  ours_jpeg -- "${big[@]}" --background-picture "$work/photo.jpg" \
  cjpeg -- cjpeg -quality 75 -optimize -sample 2x2 -outfile "$work/cjpeg.jpg" "$work/photo.bmp" \
  white -- "${big[@]}" \
  tiny -- build-bench/pagiro convert "$work/short.txt" -o "$work/big_out" --quiet --format jpg >"$work/big_times"
for name in ours ours_jpeg cjpeg white tiny; do sed -n "s/^$name //p" "$work/big_times" >"$work/big_$name"; done
read -r ow oc <"$work/big_ours"
read -r jw jc <"$work/big_ours_jpeg"
read -r cw cc <"$work/big_cjpeg"
read -r ww wc <"$work/big_white"
read -r tw tc <"$work/big_tiny"
awk -v ow="$ow" -v oc="$oc" -v jw="$jw" -v jc="$jc" -v cw="$cw" -v cc="$cc" -v ww="$ww" -v wc="$wc" -v tw="$tw" -v tc="$tc" 'BEGIN {
  printf "ours, page over the picture (the BMP cjpeg reads): %.4f s (CPU %.4f s)\n", ow, oc;
  printf "ours, page over the same picture as a JPEG:       %.4f s (CPU %.4f s)\n", jw, jc;
  printf "cjpeg -optimize, same picture:                    %.4f s (CPU %.4f s)\n", cw, cc;
  printf "ours / cjpeg (speed), same BMP:                   %.2fx wall, %.2fx CPU   (goal: at least 1x)\n", cw/ow, cc/oc;
  printf "ours / cjpeg (speed), ours from the JPEG:         %.2fx wall, %.2fx CPU\n", cw/jw, cc/jc;
  printf "white page:                    %.4f s (CPU %.4f s); a default page, the start and end of the process: %.4f s (CPU %.4f s)\n", ww, wc, tw, tc;
  printf "white page less the process:   %.4f s   (goal: under 0.040 s)\n", ww - tw;
}'

echo
echo "== big pages: peak memory (bound: 100 MB plus three pages of 4-byte pixels)"
# Text enough for the page counts asked for, at 72 points.
peak() {  # label, pages wanted, characters, width, height, then more options
  local label=$1 want=$2 chars=$3 w=$4 h=$5
  shift 5
  /usr/bin/python3 bench/make_novel.py "$work/mem.txt" "$chars" >/dev/null
  rm -rf "$work/big_out"
  /usr/bin/time -f "%M" -o "$work/mem.rss" build-bench/pagiro convert "$work/mem.txt" -o "$work/big_out" --quiet \
    --width "$w" --height "$h" --font-size 72 "$@" >/dev/null
  awk -v l="$label" -v p="$(ls "$work/big_out" | wc -l)" -v want="$want" -v rss="$(cat "$work/mem.rss")" -v w="$w" -v h="$h" 'BEGIN {
    bound = 100 + 3 * w * h * 4 / 1048576;
    printf "%-44s %3d pages (asked ~%d), peak %6.1f MB, bound %6.1f MB: %s\n", l, p, want, rss/1024, bound,
      rss/1024 <= bound ? "within" : "OVER";
  }'
  rm -rf "$work/big_out"
}
peak "BMP 6000 x 6000" 12 13000 6000 6000 --format bmp
peak "JPEG 4000 x 3000" 40 19500 4000 3000 --format jpg
peak "JPEG 4000 x 3000 over the photo" 40 19500 4000 3000 --format jpg --background-picture "$work/photo.jpg"
fi

wants books || exit 0
echo
echo "== books: $chars characters, typeset 480 x 800, one XTCH book against loose 8-bit grey PNG pages (wall and CPU seconds)"
# The same settings for all three; the book with contents lays the text out once
# more ahead, to find the pages its contents list.
book_run() {  # name, then the options
  local name=$1
  shift
  rm -rf "$work/$name"
  sync
  /usr/bin/time -f "%e %U %S %M" -o "$work/$name.time" \
    build-bench/pagiro convert "$work/novel.txt" -o "$work/$name" --quiet "$@" >"$work/$name.out"
  sed -nE 's/^共生成图片([0-9]+)张$/\1/p' "$work/$name.out" >"$work/$name.pages"
}
book_run png --layout typeset --format png
book_run xtch --format xtch
book_run xtch_plain --format xtch --no-toc
for name in png xtch xtch_plain; do
  read -r wall user sys rss <"$work/$name.time"
  awk -v n="$name" -v p="$(cat "$work/$name.pages")" -v w="$wall" -v c="$(echo "$user + $sys" | bc)" -v rss="$rss" \
      -v size="$(du -sb "$work/$name" | cut -f1)" 'BEGIN {
    printf "%-22s %6d pages in %6.2f s = %5.0f pages/s (CPU %6.2f s = %5.0f pages/CPU-s), %7.1f MB on disk, peak memory %.1f MB\n",
      n, p, w, p/w, c, p/c, size/1e6, rss/1024;
  }'
done
# The Pillow peer lays out the whole text but draws and packs only its first pages
# (it is slow), so the two compare in pages per second.
sync
/usr/bin/time -f "%e %U %S" -o "$work/pil_book_time" \
  /usr/bin/python3 bench/xtch_pillow.py "$work/novel.txt" "$work/pillow.xtch" ${PAGIRO_BENCH_BOOK_PILLOW_PAGES:-500} \
  >"$work/pil_book.out"
read -r pil_wall pil_user pil_sys <"$work/pil_book_time"
awk -v p="$(cut -d' ' -f1 "$work/pil_book.out")" -v w="$pil_wall" -v c="$(echo "$pil_user + $pil_sys" | bc)" \
    -v size="$(stat -c %s "$work/pillow.xtch")" 'BEGIN {
  printf "%-22s %6d pages in %6.2f s = %5.1f pages/s (CPU %6.2f s = %5.1f pages/CPU-s), %7.1f MB on disk\n",
    "Pillow XTCH script", p, w, p/w, c, p/c, size/1e6;
}'
awk -v pp="$(cat "$work/png.pages")" -v xp="$(cat "$work/xtch.pages")" -v np="$(cat "$work/xtch_plain.pages")" \
    -v pw="$(cut -d' ' -f1 "$work/png.time")" -v xw="$(cut -d' ' -f1 "$work/xtch.time")" \
    -v nw="$(cut -d' ' -f1 "$work/xtch_plain.time")" -v lp="$(cut -d' ' -f1 "$work/pil_book.out")" -v lw="$pil_wall" 'BEGIN {
  printf "XTCH book / PNG pages (pages per second):          %.2fx   (goal: at least 1x)\n", (xp/xw)/(pp/pw);
  printf "XTCH book --no-toc / Pillow XTCH (pages per second): %.1fx\n", (np/nw)/(lp/lw);
}'
