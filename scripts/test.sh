#!/usr/bin/env bash
# Installs what is missing, builds everything (plug-in, tests, benchmarks) and runs the tests,
# then runs the processor, model and network tests and the raw VST3 host's tests of the built
# plug-in again under the sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

bash scripts/setup.sh

cmake -S . -B build/tests -DCMAKE_BUILD_TYPE=Release
cmake --build build/tests -j"$jobs"
ctest --test-dir build/tests --output-on-failure -j"$jobs"

# The processor, model and network suites, and the raw VST3 host against the plug-in built
# the same way, again under AddressSanitizer and UndefinedBehaviorSanitizer (the hours-long
# bridge run is left to the plain build).
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVOR_SANITIZE=ON -DKELVOR_BUILD_BENCHMARKS=OFF
cmake --build build/sanitize --target processor_tests model_tests sound_tests Kelvor58_VST3 vst3_raw_host_tests -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build/sanitize --output-on-failure -j"$jobs" \
  -R '^(Parameters|Processor|Bridge|SavedState|Settings|RealTime|Memory|GRU|NetworkKernel|WeightsFile|LfoTables|ShippedNetwork|ShippedNetworkSilence|LfoLookupAgreement|NumberText|Vst3SavedState|Vst3Settings|Vst3ValueText|Vst3Controller|Vst3Stream|Vst3Threads|Vst3Process|Vst3View)\.' \
  -E '^Bridge\.LagHoldsThroughHoursOfAudio$'
