#!/usr/bin/env bash
# Installs what the tests need (Debian packages), builds vexmo for Linux and
# for Windows, and runs every test: unit tests, the loopback smoke test and
# the network-namespace suite; the same under AddressSanitizer and
# UndefinedBehaviorSanitizer; each fuzzer for a minute; the Windows build's
# unit tests and the network suite under Wine, and its .zip (tools/
# test-windows.sh installs Wine); on a bare Debian 12 root, the README's first
# command and the Debian package (tools/check-bare-machine.sh); and Release
# builds with GCC and with clang. Run as root: raw sockets, namespaces and
# chroot need it. Warnings are errors in every build here (the presets).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-missing.sh cmake g++ make libgtest-dev googletest g++-mingw-w64-x86-64 iproute2 \
  iptables python3 clang libclang-rt-14-dev valgrind debootstrap \
  libcap2-bin groff-base \
  python3-jsonschema  # setcap for the unprivileged runs; the manual page lint; the --json schema

jobs=$(nproc)
echo "== building for Linux (build/)"
cmake --preset default
cmake --build --preset default -j"$jobs"

echo "== running the tests"
ctest --preset default -j"$jobs"

echo "== sanitized build: unit tests and network suite"
tools/test-sanitized.sh

echo "== fuzzing"
tools/fuzz.sh

echo "== the Windows build under Wine: unit tests, network suite, package"
tools/test-windows.sh

echo "== the Debian package (build/) and the README's first command on a bare Debian 12"
rm -f build/vexmo_*.deb
cpack --preset default
tools/check-bare-machine.sh --quick-start --package build/vexmo_*.deb

echo "== Release builds with GCC and with clang"
for preset in release-gcc release-clang; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
done
