#!/usr/bin/env bash
# Builds vexmo for Windows (build-windows/) and runs its tests under Wine: the
# unit and platform tests through ctest, then the network-namespace suite with
# vexmo.exe. Installs what is missing (Debian packages, Wine included). Run as
# root: raw sockets and namespaces need it, under Wine as natively.
set -euo pipefail
cd "$(dirname "$0")/.."

# Wine with its recommended packages, as it is tested here.
tools/install-missing.sh --with-recommends wine wine64
tools/install-missing.sh cmake make g++-mingw-w64-x86-64 googletest iproute2 iptables python3

jobs=$(nproc)
echo "== building for Windows (build-windows/)"
cmake --preset windows
cmake --build --preset windows -j"$jobs"

# One Wine prefix for the run, made once (cmake/wine-run.sh, about ten
# seconds on a fresh machine), and one server kept up for the whole run: a
# cold start costs seconds per test. The first program starts Wine's helper
# processes, which inherit its standard handles; it gets none, so that no
# test's output pipe is held open by them.
export WINEPREFIX=$PWD/build-windows/wine-prefix WINEDEBUG=-all
started=$SECONDS
echo "== starting Wine (prefix $WINEPREFIX)"
mkdir -p "$WINEPREFIX"
wineserver -k 2>/dev/null || true
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
cmake/wine-run.sh "$WINEPREFIX" build-windows/vexmo.exe </dev/null >/dev/null 2>&1 || true
echo "   ready in $((SECONDS - started)) s"

# Both passes run, whatever the first gives.
status=0
echo "== Windows unit and platform tests under Wine"
ctest --preset windows -j"$jobs" || status=1

echo "== network suite with vexmo.exe under Wine"
CI=true python3 tests/net/run_suite.py --vexmo "wine build-windows/vexmo.exe" --wine || status=1
exit $status
