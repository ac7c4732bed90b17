#!/usr/bin/env bash
# Builds vexmo with AddressSanitizer and UndefinedBehaviorSanitizer (halting
# at the first report) and runs the unit tests and the network suite on it.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-asan -DVEXMO_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$(nproc)"
ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
