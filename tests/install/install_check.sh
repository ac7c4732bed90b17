#!/bin/sh
# cmake --install from a build directory: the program and its manual page in
# their places, the page free of formatting warnings, and with
# VEXMO_INSTALL_SETCAP the installed program given cap_net_raw+ep, which
# nobody can then run against loopback (in a network namespace of its own,
# where no ICMP datagram socket is granted). The parts that need root are
# skipped without it.
build=$1
fail() { echo "FAIL: $*"; exit 1; }
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
chmod 755 "$tmp"

cmake --install "$build" --prefix "$tmp/plain" >"$tmp/log" 2>&1 || { cat "$tmp/log"; fail "install"; }
[ -x "$tmp/plain/bin/vexmo" ] || fail "no bin/vexmo"
[ -f "$tmp/plain/share/man/man1/vexmo.1" ] || fail "no share/man/man1/vexmo.1"
[ -f "$tmp/plain/share/vexmo/vexmo.schema.json" ] || fail "no share/vexmo/vexmo.schema.json"
if command -v getcap >/dev/null && [ -n "$(getcap "$tmp/plain/bin/vexmo")" ]; then
  fail "capabilities granted without VEXMO_INSTALL_SETCAP"
fi
if command -v groff >/dev/null; then
  warnings=$(groff -man -Tutf8 -ww -z "$tmp/plain/share/man/man1/vexmo.1" 2>&1)
  [ -z "$warnings" ] || fail "manual page: $warnings"
  groff -man -Tutf8 -P-cbou "$tmp/plain/share/man/man1/vexmo.1" 2>/dev/null | grep -q ping_group_range ||
    fail "manual page does not render its privileges section"
fi
echo "ok: program and manual page installed"

if [ "$(id -u)" != 0 ]; then
  echo "not root: setcap install skipped"
  exit 0
fi
cmake -DVEXMO_INSTALL_SETCAP=ON -DCMAKE_INSTALL_PREFIX="$tmp/cap" -P "$build/cmake_install.cmake" \
  >"$tmp/log" 2>&1 || { cat "$tmp/log"; fail "install with VEXMO_INSTALL_SETCAP"; }
caps=$(getcap "$tmp/cap/bin/vexmo")
case "$caps" in
  *cap_net_raw=ep*) ;;
  *) fail "installed program has capabilities '$caps', expected cap_net_raw=ep" ;;
esac
chmod 755 "$tmp/cap" "$tmp/cap/bin"
out=$(unshare -n sh -c 'ip link set lo up 2>/dev/null || exit 3
  echo "1 0" > /proc/sys/net/ipv4/ping_group_range
  exec setpriv --reuid=nobody --regid=nogroup --clear-groups "$1" -c 2 -w 1000 127.0.0.1' \
  sh "$tmp/cap/bin/vexmo")
status=$?
[ "$status" = 3 ] && { echo "no network namespace: run as nobody skipped"; exit 0; }
echo "$out"
[ "$status" = 0 ] || fail "exit status $status"
printf '%s\n' "$out" | grep -qx 'Packets: Sent 2, Received 2 (0% Lost)' ||
  fail "nobody could not ping loopback with the installed program"
echo "ok: installed with cap_net_raw+ep, usable by nobody"
