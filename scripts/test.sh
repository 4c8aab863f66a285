#!/usr/bin/env bash
# Installs what is missing, builds everything (plug-in, tests, benchmarks) and runs the tests,
# then runs the processor's tests again under AddressSanitizer with leak checking.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

bash scripts/setup.sh

cmake -S . -B build/tests -DCMAKE_BUILD_TYPE=Release
cmake --build build/tests -j"$jobs"
ctest --test-dir build/tests --output-on-failure -j"$jobs"

cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVOR_ASAN=ON -DKELVOR_BUILD_BENCHMARKS=OFF
cmake --build build/asan --target processor_tests -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build/asan --output-on-failure -j"$jobs" \
  -R '^(Parameters|Processor|Bridge|SavedState|Settings|RealTime|Memory)\.'
