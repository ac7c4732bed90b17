#!/bin/sh
# The program must not load the shared C++ runtime (or libgcc_s): linked
# in, the little it uses costs a fraction of the memory the library does.
vexmo=$1
if ! command -v readelf >/dev/null; then
  echo "needs readelf (binutils): skipped"
  exit 77
fi
needed=$(readelf -d "$vexmo" | grep NEEDED) || true
echo "$needed"
if echo "$needed" | grep -E 'libstdc\+\+|libgcc_s|libc\+\+'; then
  echo "FAIL: $vexmo needs a shared C++ runtime"
  exit 1
fi
