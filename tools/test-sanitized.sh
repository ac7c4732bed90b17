#!/usr/bin/env bash
# Builds vexmo with AddressSanitizer and UndefinedBehaviorSanitizer (halting
# at the first report) and runs the unit tests and the network suite on it.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$(nproc)"
ctest --preset sanitize -j"$(nproc)"
