#!/usr/bin/env bash
# Installs those of the named Debian packages that are not installed yet.
#   tools/install-missing.sh [--with-recommends] PACKAGE...
# Without --with-recommends, recommended packages are left out. The package
# lists are refreshed first, unless VEXMO_APT_UPDATED is set (.ci/run has
# just refreshed them).
set -euo pipefail
options=(--no-install-recommends)
if [ "${1:-}" = --with-recommends ]; then
  options=()
  shift
fi
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  [ -n "${VEXMO_APT_UPDATED:-}" ] || apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${options[@]}" "${missing[@]}"
fi
