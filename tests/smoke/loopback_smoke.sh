#!/bin/sh
# The built program against 127.0.0.1: every request answered, a summary that
# adds up. Needs a raw socket, so root (or CAP_NET_RAW); skipped otherwise.
vexmo=$1
if [ "$(id -u)" != 0 ]; then
  echo "not root: skipped"
  exit 77
fi
out=$("$vexmo" -c 3 -w 1000 127.0.0.1)
status=$?
echo "$out"
[ "$status" = 0 ] || { echo "exit status $status"; exit 1; }
replies=$(printf '%s\n' "$out" | grep -cE '^127\.0\.0\.1: Time: [0-9]+\.[0-9]{3} ms, Sequence: [0-9]+, Ttl: 64$')
[ "$replies" = 3 ] || { echo "expected 3 replies, got $replies"; exit 1; }
printf '%s\n' "$out" | grep -qx 'Packets: Sent 3, Received 3 (0% Lost)' || { echo "bad packets line"; exit 1; }
printf '%s\n' "$out" | grep -qE '^Rount Trip Time \(Min/Avg/Max\): [0-9]+\.[0-9]{3} ms/[0-9]+\.[0-9]{3} ms/[0-9]+\.[0-9]{3} ms$' || { echo "bad round-trip line"; exit 1; }
echo "ok"
