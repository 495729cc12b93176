#!/usr/bin/env bash
# Builds everything and runs every test: the normal build (unit and integration tests), the unit
# tests again under AddressSanitizer and UndefinedBehaviorSanitizer, and a bounded fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
fuzz_seconds=${KEST_FUZZ_SECONDS:-60}

scripts/install-deps.sh

echo "== build and all tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEST_WERROR=ON
ninja -C build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== unit tests with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKEST_WERROR=ON -DKEST_SANITIZE=ON \
    -DKEST_BENCH=OFF
ninja -C build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs" -L unit

if [ -x fuzz/run.sh ]; then
    echo "== fuzzing, ${fuzz_seconds} s per target"
    fuzz/run.sh build-fuzz "$fuzz_seconds"
fi
echo "== all tests passed"
