#!/usr/bin/env bash
# Round-trip benchmark: builds vexmo and its helpers (the floor probe and the
# launcher), installs the peers (iputils ping, fping) when missing, measures
# all of them side by side in network namespaces of its own and writes
# bench/results/latest.md.
#
#   sudo bench/run.sh [--runs N] [--count N] [--also LABEL=BINARY] [--out FILE]
#
# Takes about (count + 5) seconds per path and run: three paths, 30 requests
# and one run by default, so under two minutes.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "bench: run as root (raw sockets and network namespaces need it)" >&2
  exit 1
fi

tools/install-missing.sh cmake g++ make iproute2 iputils-ping fping python3

# The normal build's flags (its default build type), tests left out, and
# the two helpers.
echo "== building vexmo and the helpers (build-bench/)"
cmake --preset bench >/dev/null
cmake --build --preset bench -j2

commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
if [ -n "$(git status --porcelain -- src 2>/dev/null)" ]; then
  commit="$commit+changes"
fi
exec python3 bench/bench.py --vexmo build-bench/vexmo --probe build-bench/bench/floor_probe \
  --launcher build-bench/bench/spawn_measured \
  --commit "$commit" --out bench/results/latest.md "$@"
