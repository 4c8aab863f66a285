#!/usr/bin/env bash
# Installs the build dependencies, builds the plug-in in Release and installs it into ~/.vst3.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKELVOR_BUILD_TESTS=OFF -DKELVOR_BUILD_BENCHMARKS=OFF
cmake --build build/release --target Kelvor58_VST3 -j"$(nproc)"
cmake --install build/release
