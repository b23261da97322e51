#!/usr/bin/env bash
# Sets everything up, builds from scratch into build-test, and runs every test; then
# builds again with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-test-asan and runs the whole suite once more under them (the thread tests
# under clang's).
#   scripts/test.sh [--no-sanitize]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
rm -rf build-test
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-test
ctest --test-dir build-test --output-on-failure -j2

if [ "${1:-}" = "--no-sanitize" ]; then exit 0; fi
# Debug keeps the sanitizer build at -O1 throughout and its assertions on; the
# benchmarks add nothing to test.
rm -rf build-test-asan
cmake -S . -B build-test-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPAGIRO_SANITIZE=ON -DPAGIRO_BUILD_BENCH=OFF
cmake --build build-test-asan
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
  ctest --test-dir build-test-asan --output-on-failure -j2

# The thread tests under clang's AddressSanitizer and UndefinedBehaviorSanitizer, in
# the fuzz targets' build.
fuzz_build=${PAGIRO_FUZZ_BUILD:-build-fuzz}
if [ ! -f "$fuzz_build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$fuzz_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPAGIRO_FUZZ=ON
fi
cmake --build "$fuzz_build" --target thread_tests_checked
"$fuzz_build/fuzz/thread_tests_checked"
