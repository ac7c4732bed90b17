#!/usr/bin/env bash
# Installs what the tests need (Debian packages), builds vexmo for Linux and
# for Windows, and runs every test: unit tests, the loopback smoke test and
# the network-namespace suite; under AddressSanitizer and
# UndefinedBehaviorSanitizer the same tests with the representative share of
# the network suite; each fuzzer for FUZZ_SECONDS (30 here); the Windows
# build's unit tests and the network suite under Wine, and its .zip; on a
# bare Debian 12 root, the README's first command and the Debian package
# (tools/check-bare-machine.sh); and Release builds of vexmo with GCC and
# with clang (clang's with the tests too). Run as root: raw sockets,
# namespaces and chroot need it. Warnings are errors in every build here
# (the presets).
#
# Three lanes run at once, so that both cores are busy:
#   tests   the timed runs, one after the other: ctest (native), the
#           sanitized tests, the Windows tests under Wine;
#   builds  (niced) the sanitized, Windows, fuzzing and Release builds, and
#           the fuzzing; the tests lane waits for the build it needs;
#   bare    (niced) the packages for Windows, clang and the bare root, then
#           the Debian package (made before the lanes start) on a bare
#           Debian 12 root; it mostly waits on the mirror.
# The output of the two background lanes is printed when they end; every
# stage's seconds are in the table at the end (and build-logs/stages).
set -euo pipefail
cd "$(dirname "$0")/.."

export FUZZ_SECONDS=${FUZZ_SECONDS:-30}
jobs=$(nproc)
logs=$PWD/build-logs
rm -rf "$logs"
mkdir -p "$logs"
: >"$logs/stages"
started_all=$SECONDS

# stage NAME COMMAND...: runs COMMAND, notes its seconds and its status.
stage() {
  local name=$1 started=$SECONDS status=0
  shift
  echo "== $name ($(date -u +%T))"
  "$@" || status=$?
  printf '%s\t%d\t%s\n' "$name" $((SECONDS - started)) "$status" >>"$logs/stages"
  [ "$status" = 0 ] || echo "FAIL: $name (status $status)"
  return "$status"
}

# build PRESET [TARGET...]: configures and builds a preset (all its
# targets, or those named).
build() {
  local preset=$1
  shift
  local targets=()
  [ $# = 0 ] || targets=(--target "$@")
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j"$jobs" "${targets[@]}"
}

# ready NAME / wait_ready NAME PID: a lane says that a build is done; another
# waits for it (or for the lane's end, which fails the wait).
ready() { touch "$logs/ready-$1"; }
wait_ready() {
  while [ ! -e "$logs/ready-$1" ]; do
    kill -0 "$2" 2>/dev/null || { [ -e "$logs/ready-$1" ] && return 0; echo "FAIL: no $1 build"; return 1; }
    sleep 1
  done
}

# What the Linux build and its tests need first; the rest (Wine, MinGW-w64,
# clang, debootstrap) installs in the bare lane while the Linux build's tests
# and the sanitized build run.
stage "install (Linux build, tests)" tools/install-missing.sh cmake g++ make libgtest-dev \
  googletest iproute2 iptables python3 valgrind \
  libcap2-bin groff-base \
  python3-jsonschema \
  prometheus prometheus-node-exporter tmux
# (setcap for the unprivileged runs; the manual page lint; the --json
# schema; promtool, node_exporter and Prometheus read --metrics-file; a
# real terminal for --graph)

stage "build (Linux)" build default
rm -f build/vexmo_*.deb
stage "package (.deb)" cpack --preset default
# Debian's own checks of the package: any error or warning tag fails (the
# package's overrides each say why).
stage "lintian (.deb)" eval 'tools/install-missing.sh lintian &&
  lintian --pedantic --fail-on error,warning build/vexmo_*.deb'

# The lanes in the background stop at nothing: each stage runs, and the
# lane fails when one of its stages did.
builds_lane() {
  set +e
  local failed=0
  { stage "build (sanitized)" build sanitize && ready sanitize; } || failed=1
  wait_ready packages "$bare_pid" || failed=1
  { stage "build (Windows)" build windows && ready windows; } || failed=1
  stage "fuzzing, ${FUZZ_SECONDS} s each" tools/fuzz.sh || failed=1
  stage "Release build, GCC (vexmo)" build release-gcc vexmo floor_probe spawn_measured || failed=1
  stage "Release build, clang (all)" build release-clang || failed=1
  return $failed
}
bare_lane() {
  set +e
  # Wine with its recommended packages, as it is tested here (tools/test-windows.sh).
  stage "install (Wine, MinGW, clang, ...)" eval 'tools/install-missing.sh --with-recommends wine wine64 &&
    tools/install-missing.sh g++-mingw-w64-x86-64 clang libclang-rt-14-dev debootstrap' &&
    ready packages &&
    stage "bare Debian 12 root" tools/check-bare-machine.sh --quick-start --package build/vexmo_*.deb
}
(renice -n 19 $BASHPID >/dev/null && bare_lane) >"$logs/bare.log" 2>&1 &
bare_pid=$!
(renice -n 19 $BASHPID >/dev/null && builds_lane) >"$logs/builds.log" 2>&1 &
builds_pid=$!

status=0
stage "tests (ctest, native)" ctest --preset default -j"$jobs" || status=1
{ wait_ready sanitize $builds_pid && stage "tests (sanitized)" tools/test-sanitized.sh; } || status=1
{ wait_ready windows $builds_pid && stage "tests (Windows, Wine)" tools/test-windows.sh; } || status=1

for lane in builds bare; do
  pid_var=${lane}_pid
  wait "${!pid_var}" || status=1
  echo
  echo "---------------------------------------- the $lane lane"
  cat "$logs/$lane.log"
done

echo
echo "== seconds per stage (lanes run at once; build-logs/stages)"
awk -F'\t' '{ printf "  %-34s %5d s%s\n", $1, $2, ($3 == 0 ? "" : "  FAILED") }' "$logs/stages"
printf '  %-34s %5d s\n' "total (wall)" $((SECONDS - started_all))
if [ "$status" != 0 ] || awk -F'\t' '$3 != 0 { bad = 1 } END { exit !bad }' "$logs/stages"; then
  echo "FAILED"
  exit 1
fi
