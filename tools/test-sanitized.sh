#!/usr/bin/env bash
# Builds vexmo with AddressSanitizer and UndefinedBehaviorSanitizer (halting
# at the first report) and runs the unit tests and the representative share
# of the network suite on it (the cases tagged SHARE in tests/net/cases/;
# configure with -DVEXMO_NET_SUITE_SHARE=all for every case).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j"$(nproc)"
ctest --preset sanitize -j"$(nproc)"
