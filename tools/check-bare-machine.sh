#!/usr/bin/env bash
# The first steps on a bare Debian 12, proved in a root made with
# `debootstrap --variant=minbase bookworm` (no compiler, no CMake):
#
#  - the quick start: README.md's first quick-start command, read out of the
#    README, run as root in a fresh bare root, must ping 127.0.0.1 five times;
#  - the Debian package, when one is named: in another fresh bare root,
#    `apt-get install ./vexmo_*.deb` grants cap_net_raw, an unprivileged user
#    gets two replies from `vexmo -c 2 127.0.0.1` in a network namespace that
#    grants no ICMP datagram socket, `man vexmo` finds the page, and removing
#    the package leaves the file tree as it was before; installed without
#    setcap, or where setcap fails, the postinst says so and the user gets
#    the replies through an ICMP datagram socket.
#
#   tools/check-bare-machine.sh [--quick-start] [--package FILE.deb]
#
# Without options, only the quick start. As root. The bare root is made once
# and kept in build-bare/ (bookworm-minbase.tar); the packages the roots
# download are kept there too, so that a second run downloads only apt's
# package lists. Everything is fetched from the Debian mirror apt uses here.
# The whole check runs in a mount namespace of its own, with the roots on a
# memory file system: their mounts and files go with it.
set -euo pipefail
cd "$(dirname "$0")/.."
cache=$PWD/build-bare
base_tar=$cache/bookworm-minbase.tar
archives=$cache/apt-archives
roots=$cache/roots

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

quick_start=0
package=
while [ $# -gt 0 ]; do
  case $1 in
    --quick-start) quick_start=1 ;;
    --package)
      package=$(realpath "$2")
      shift
      ;;
    *) fail "unknown argument $1 (tools/check-bare-machine.sh [--quick-start] [--package FILE.deb])" ;;
  esac
  shift
done
[ -z "$package" ] && quick_start=1
[ "$(id -u)" = 0 ] || fail "run as root (chroot and mounts need it)"
[ -z "$package" ] || [ -f "$package" ] || fail "no package $package"

if [ -z "${VEXMO_BARE_NAMESPACE:-}" ]; then
  tools/install-missing.sh debootstrap iproute2
  args=(--quick-start)
  [ "$quick_start" = 1 ] || args=()
  [ -z "$package" ] || args+=(--package "$package")
  VEXMO_BARE_NAMESPACE=1 exec unshare --mount --propagation private -- \
    "$PWD/tools/check-bare-machine.sh" "${args[@]}"
fi
# Nothing below may mount in the machine's own namespace.
[ "$(readlink /proc/self/ns/mnt)" != "$(readlink /proc/$PPID/ns/mnt)" ] ||
  fail "not in a mount namespace of its own"
mkdir -p "$archives/partial" "$roots"
mount -t tmpfs -o size=3g,mode=755 bare-roots "$roots"

# The Debian mirror apt uses here: the first source of the suite "bookworm",
# in the one-line or the deb822 format.
apt_mirror() {
  local file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] && sed -e 's/\[[^]]*\]//' "$file" | awk '$1 == "deb" && $3 == "bookworm" { print $2 }'
  done
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] && awk 'BEGIN { RS = ""; FS = "\n" }
      {
        types = ""; uris = ""; suites = ""
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^Types:/) types = $i
          if ($i ~ /^URIs:/) uris = $i
          if ($i ~ /^Suites:/) suites = $i
        }
        if (types ~ /[ \t]deb([ \t]|$)/ && suites ~ /[ \t]bookworm([ \t]|$)/) {
          split(uris, u, /[ \t]+/); print u[2]
        }
      }' "$file"
  done
}
mirror=${DEBIAN_MIRROR:-$(apt_mirror | head -n 1)}
mirror=${mirror:-http://deb.debian.org/debian}

if [ ! -f "$base_tar" ]; then
  echo "== making a bare Debian 12 root (debootstrap --variant=minbase bookworm, $mirror)"
  started=$SECONDS
  debootstrap --variant=minbase bookworm "$roots/debootstrap" "$mirror" \
    >"$cache/debootstrap.log" 2>&1 ||
    {
      tail -n 20 "$cache/debootstrap.log"
      fail "debootstrap"
    }
  tar -C "$roots/debootstrap" -cf "$base_tar.part" .
  mv "$base_tar.part" "$base_tar"
  rm -rf "$roots/debootstrap"
  echo "   made in $((SECONDS - started)) s"
fi

# fresh_root: root= a new copy of the bare root, made a mount point (as ip
# netns and pivot_root want), with /proc, /sys, /dev, this machine's name
# service and the shared download cache.
fresh_root() {
  root=$(mktemp -d "$roots/root.XXXXXX")
  tar -C "$root" -xf "$base_tar"
  chmod 755 "$root"
  cp -L /etc/resolv.conf "$root/etc/resolv.conf"
  mount --bind "$root" "$root"
  mount -t proc proc "$root/proc"
  mount -t sysfs sysfs "$root/sys"
  mount --rbind /dev "$root/dev"
  mount --bind "$archives" "$root/var/cache/apt/archives"
}
drop_root() {
  umount -R "$root"
  rm -rf "$root"
}

# in_root ROOT NET COMMAND: runs COMMAND with sh as root in ROOT, in a fresh
# environment. NET is "host" (the mirror is reachable) or "isolated" (a
# network namespace of its own with only loopback, up).
in_root() {
  local enter=(chroot "$1" /usr/bin/env -i HOME=/root
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 TERM=dumb
    /bin/sh -c "$3")
  if [ "$2" = isolated ]; then
    unshare --net -- sh -c 'ip link set lo up && exec "$@"' sh "${enter[@]}" </dev/null
  else
    "${enter[@]}" </dev/null
  fi
}

# ---- the quick start ---------------------------------------------------------
if [ "$quick_start" = 1 ]; then
  # The quick start is the README's first code block under "## Quick start":
  # exactly two commands, the second the one CI runs.
  block=$(awk '/^## / { in_section = ($0 == "## Quick start"); next }
               in_section && /^```/ { if (in_block) exit; in_block = 1; next }
               in_section && in_block && NF { print }' README.md)
  [ "$(printf '%s\n' "$block" | wc -l)" = 2 ] ||
    fail "README's quick start has not exactly two commands:"$'\n'"$block"
  first=$(printf '%s\n' "$block" | sed -n 1p)
  second=$(printf '%s\n' "$block" | sed -n 2p)
  grep -qxF "exec $second" .ci/run || fail "README's second command '$second' is not what .ci/run runs"

  echo "== the README's first command on a bare Debian 12, as root:"
  echo "   $first"
  started=$SECONDS
  fresh_root
  mkdir -p "$root/root/vexmo"
  # The checkout as git sees it (no build directories), or failing that the tree.
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard |
      tar --null -T - --ignore-failed-read -cf - | tar -C "$root/root/vexmo" -xf -
  else
    tar --exclude='./build*' -cf - . | tar -C "$root/root/vexmo" -xf -
  fi
  log=$cache/quick-start.log
  status=0
  in_root "$root" host "cd /root/vexmo && $first" >"$log" 2>&1 || status=$?
  replies=$(grep -cE '^127\.0\.0\.1: Time: [0-9]+\.[0-9]{3} ms, Sequence: [0-4], Ttl: [0-9]+$' "$log" || true)
  if [ "$status" != 0 ] || [ "$replies" != 5 ] ||
    ! grep -qx 'Packets: Sent 5, Received 5 (0% Lost)' "$log"; then
    tail -n 30 "$log"
    fail "the quick start ended with status $status and $replies replies (log: $log)"
  fi
  grep -A8 '^Ping to' "$log" | sed 's/^/   /'
  drop_root
  echo "ok: quick start on a bare Debian 12 in $((SECONDS - started)) s"
fi

# ---- the Debian package --------------------------------------------------------
if [ -n "$package" ]; then
  echo "== the Debian package on a bare Debian 12: $(basename "$package")"
  started=$SECONDS
  fresh_root
  cp "$package" "$root/tmp/"
  deb=/tmp/$(basename "$package")
  log=$cache/package.log
  : >"$log"
  # quiet NET COMMAND: runs COMMAND in the package's root, output to the log.
  quiet() {
    echo "\$ $2" >>"$log"
    in_root "$root" "$1" "$2" >>"$log" 2>&1 || {
      tail -n 20 "$log"
      fail "$2"
    }
  }
  # install_package [APT-OPTION...]: installs the package; install_log= what
  # apt-get printed.
  install_package() {
    echo "\$ apt-get install $* $deb" >>"$log"
    install_log=$(in_root "$root" host \
      "DEBIAN_FRONTEND=noninteractive apt-get install -y -q $* $deb 2>&1") || {
      echo "$install_log"
      fail "apt-get install $* $deb"
    }
    echo "$install_log" >>"$log"
  }
  # pings_as_user GROUPS: output= vexmo -c 2 127.0.0.1 run by an unprivileged
  # user in a network namespace whose ping_group_range is GROUPS.
  pings_as_user() {
    output=$(in_root "$root" isolated "echo '$1' >/proc/sys/net/ipv4/ping_group_range &&
      runuser -u tester -- vexmo -c 2 -w 1000 127.0.0.1 2>&1") || fail "vexmo as tester: status $?"
    echo "$output" >>"$log"
    echo "$output" | sed 's/^/   /'
  }
  two_replies() {
    [ "$(grep -cE '^127\.0\.0\.1: Time: [0-9.]+ ms, Sequence: [01], Ttl: [0-9]+$' <<<"$output")" = 2 ] &&
      grep -qx 'Packets: Sent 2, Received 2 (0% Lost)' <<<"$output"
  }
  list_files='find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /tmp -o -path /var/cache \
    -o -path /var/lib/dpkg -o -path /var/lib/apt -o -path /var/log \) -prune -o -print | sort'

  quiet host "apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q man-db libcap2-bin"
  quiet host "useradd --create-home tester"
  quiet host "$list_files >/tmp/files-before"

  echo "-- apt-get install $deb"
  install_package
  ! grep -q '^vexmo:' <<<"$install_log" || fail "postinst: $(grep '^vexmo:' <<<"$install_log")"
  caps=$(in_root "$root" host "getcap /usr/bin/vexmo")
  [[ $caps == *cap_net_raw=ep* ]] || fail "installed vexmo has capabilities '$caps'"
  echo "   $caps"

  echo "-- as an unprivileged user, no ICMP datagram socket granted: vexmo -c 2 127.0.0.1"
  pings_as_user "1 0"
  two_replies || fail "vexmo as tester with cap_net_raw did not get two replies"

  echo "-- man vexmo"
  page=$(in_root "$root" host "runuser -u tester -- man -P cat vexmo 2>&1") || fail "man vexmo: $page"
  grep -q 'vexmo - ICMP echo diagnostic for IPv4' <<<"$page" || fail "man vexmo: $page"
  echo "   $(grep -m1 -A1 '^NAME' <<<"$page" | tail -n 1 | sed 's/^ *//')"

  echo "-- apt-get remove vexmo"
  installed=$(in_root "$root" host "dpkg -L vexmo")
  quiet host "DEBIAN_FRONTEND=noninteractive apt-get remove -y -q vexmo"
  quiet host "$list_files >/tmp/files-after"
  if ! diff -u "$root/tmp/files-before" "$root/tmp/files-after" >"$cache/package-files.diff"; then
    cat "$cache/package-files.diff"
    fail "the file tree after removing vexmo differs from the one before installing it"
  fi
  while read -r path; do
    [ -d "$root$path" ] || [ ! -e "$root$path" ] || fail "$path left after removing vexmo"
  done <<<"$installed"
  echo "   $(grep -c . <<<"$installed") paths listed by dpkg -L; the file tree is as before"

  echo "-- where setcap fails: the postinst says so, the datagram socket serves"
  # apt runs dpkg with a PATH of its own: a failing setcap in its place.
  quiet host "dpkg-divert --quiet --local --rename --add /usr/sbin/setcap &&
    printf '#!/bin/sh\necho \"setcap: not supported here\" >&2\nexit 1\n' >/usr/sbin/setcap &&
    chmod 755 /usr/sbin/setcap"
  install_package
  grep '^vexmo:' <<<"$install_log" | sed 's/^/   /' || true
  grep -q '^vexmo: setcap cap_net_raw+ep /usr/bin/vexmo failed' <<<"$install_log" ||
    fail "postinst did not say that setcap failed"
  pings_as_user "0 2147483647"
  two_replies || fail "vexmo as tester with a datagram socket did not get two replies"
  quiet host "rm /usr/sbin/setcap && dpkg-divert --quiet --local --rename --remove /usr/sbin/setcap &&
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -q vexmo libcap2-bin"

  # The package depends on libcap2-bin, so setcap is there unless removed by
  # hand: hidden, as if it were.
  echo "-- without setcap: the postinst says so, the datagram socket serves"
  quiet host "DEBIAN_FRONTEND=noninteractive apt-get install -y -q libcap2-bin &&
    dpkg-divert --quiet --local --rename --add /usr/sbin/setcap"
  install_package
  quiet host "dpkg-divert --quiet --local --rename --remove /usr/sbin/setcap"
  grep '^vexmo:' <<<"$install_log" | sed 's/^/   /' || true
  grep -q '^vexmo: setcap not found' <<<"$install_log" || fail "postinst did not say that setcap is missing"
  pings_as_user "0 2147483647"
  two_replies || fail "vexmo as tester with a datagram socket did not get two replies"
  pings_as_user "1 0"
  grep -qx 'Packets: Sent 2, Received 0 (100% Lost)' <<<"$output" ||
    fail "vexmo without capability or datagram socket did not lose both requests"
  drop_root
  echo "ok: the package installs, runs unprivileged and leaves cleanly in $((SECONDS - started)) s"
fi
