#!/bin/sh
# Runs a Windows program under Wine: the cross build's test emulator.
#   cmake/wine-run.sh PREFIX PROGRAM.exe [ARGS...]
# PREFIX is a Wine prefix of the build's own, made on first use (about ten
# seconds) under a lock, so that tests started in parallel never make it twice.
# Wine's own diagnostics are silenced: they would mix with the program's output.
set -eu
prefix=$1
shift
case $prefix in
  /*) ;;
  *) prefix=$PWD/$prefix ;;
esac
export WINEPREFIX="$prefix" WINEDEBUG=-all
if [ ! -e "$prefix/.vexmo-ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -e "$prefix/.vexmo-ready" ]; then
      wineboot --init >/dev/null 2>&1
      : >"$prefix/.vexmo-ready"
    fi
  ) 9>"$prefix.lock"
fi
exec wine "$@"
