#!/usr/bin/env bash
# The whole test run: installs what is needed, builds from scratch, runs every
# test, then builds again with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs the unit tests there, and finally builds with clang (warnings as
# errors) with the fuzz targets and runs each of them briefly over its corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

bash scripts/install-deps.sh

echo "=== g++: build and all tests"
rm -rf build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLORVETH_BUILD_TESTS=ON -DLORVETH_BUILD_BENCHMARKS=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 300

echo "=== g++ with AddressSanitizer and UndefinedBehaviorSanitizer: unit tests"
rm -rf build-asan
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DLORVETH_SANITIZE=address,undefined -DLORVETH_BUILD_TESTS=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -LE e2e --output-on-failure -j "$jobs" --timeout 300

echo "=== clang: build with fuzz targets, run each over its corpus"
rm -rf build-clang
CC=clang CXX=clang++ cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLORVETH_BUILD_TESTS=OFF -DLORVETH_BUILD_FUZZERS=ON
cmake --build build-clang -j "$jobs"
if [[ -d build-clang/fuzz ]]; then
  for fuzzer in build-clang/fuzz/fuzz_*; do
    [[ -x $fuzzer ]] || continue
    name=$(basename "$fuzzer")
    corpus="$root/fuzz/corpus/${name#fuzz_}"
    work=$(mktemp -d)
    echo "--- $name"
    "$fuzzer" -max_total_time="${LORVETH_FUZZ_SECONDS:-20}" -rss_limit_mb=2048 \
      "$work" $( [[ -d $corpus ]] && echo "$corpus" ) 2>&1 | tail -n 3
    rm -rf "$work"
  done
fi
echo "=== all checks passed"
