#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on), replays each seed corpus once, then fuzzes
# each harness for a bounded time from its seeds: FUZZ_SECONDS, 60 by default
# (tools/test-all.sh sets 30). Any finding fails the run
# and leaves its input in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)"
ctest --preset fuzz

for fuzzer in receive_path command_line json_string; do
  echo "== fuzzing $fuzzer for ${seconds}s"
  work=build-fuzz/corpus-$fuzzer
  mkdir -p "$work"
  build-fuzz/tests/${fuzzer}_fuzzer -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix=build-fuzz/${fuzzer}- "$work" tests/fuzz/corpus/$fuzzer 2>&1 | tail -n 12
  # libFuzzer exits non-zero on a finding; pipefail carries it out.
done
