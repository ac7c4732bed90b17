#!/usr/bin/env bash
# Installs what the tests need (Debian packages), builds vexmo for Linux and
# for Windows, and runs every test: unit tests, the loopback smoke test and
# the network-namespace suite; the same under AddressSanitizer and
# UndefinedBehaviorSanitizer; each fuzzer for a minute; then the Windows
# build's unit tests and the network suite under Wine (tools/test-windows.sh
# installs Wine). Run as root: raw sockets and namespaces need it.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-missing.sh cmake g++ make libgtest-dev googletest g++-mingw-w64-x86-64 iproute2 \
  iptables python3 clang libclang-rt-14-dev valgrind \
  libcap2-bin groff-base \
  python3-jsonschema  # setcap for the unprivileged runs; the manual page lint; the --json schema

jobs=$(nproc)
echo "== building for Linux (build/)"
cmake -S . -B build
cmake --build build -j"$jobs"

echo "== running the tests"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitized build: unit tests and network suite"
tools/test-sanitized.sh

echo "== fuzzing"
tools/fuzz.sh

echo "== the Windows build under Wine: unit tests and network suite"
tools/test-windows.sh
