#!/usr/bin/env bash
# Installs what is missing, builds everything (plug-in, tests, benchmarks) and runs the tests.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build/tests -DCMAKE_BUILD_TYPE=Release
cmake --build build/tests -j"$(nproc)"
ctest --test-dir build/tests --output-on-failure -j"$(nproc)"
