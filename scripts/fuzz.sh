#!/usr/bin/env bash
# Builds the fuzz targets with clang into build-fuzz and runs each in turn for the
# given number of seconds (default 300), one core at a time.
#   scripts/fuzz.sh [seconds] [target ...]   targets: layout textfile gif jpeg
# New inputs that reach new code go to build-fuzz/corpus/<target>/ and are kept for
# the next run; the committed seeds in fuzz/corpus/<target>/ are only read. An input
# that fails is saved in build-fuzz/findings/ and the script fails. PAGIRO_FUZZ_ARGS
# passes more libFuzzer options, e.g. "-max_len=4200000" to let the JPEG target reach
# 2048 x 2048 pictures (its area grows with the input's length).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(layout textfile gif jpeg)
build=${PAGIRO_FUZZ_BUILD:-build-fuzz}
read -r -a extra <<<"${PAGIRO_FUZZ_ARGS:-}"

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPAGIRO_FUZZ=ON
fi
cmake --build "$build" -j2 --target "${targets[@]/%/_fuzz}"

mkdir -p "$build/findings"
failed=()
for t in "${targets[@]}"; do
  mkdir -p "$build/corpus/$t"
  log="$build/findings/$t.log"
  echo "fuzz: $t for ${seconds}s"
  # An input that runs over 30 s or takes over 4 GB counts as a finding too.
  if "$build/fuzz/${t}_fuzz" "$build/corpus/$t" "fuzz/corpus/$t" \
      -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
      -artifact_prefix="$build/findings/$t-" ${extra[@]+"${extra[@]}"} >"$log" 2>&1; then
    echo "fuzz: $t: $(grep -o 'number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*') executions, no finding"
  else
    echo "fuzz: $t FAILED; the input is in $build/findings/, the report:"
    grep -B2 -A30 -m1 -E "ERROR|check failed|runtime error" "$log" || tail -40 "$log"
    failed+=("$t")
  fi
done
echo "fuzz: $((${#targets[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}"
  exit 1
fi
