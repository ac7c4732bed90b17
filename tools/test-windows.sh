#!/usr/bin/env bash
# Builds vexmo for Windows (build-windows/) and runs its tests under Wine: the
# unit and platform tests through ctest, then the network-namespace suite with
# vexmo.exe. Installs what is missing (Debian packages, Wine included). Run as
# root: raw sockets and namespaces need it, under Wine as natively.
set -euo pipefail
cd "$(dirname "$0")/.."

# Wine with its recommended packages, as it is tested here.
tools/install-missing.sh --with-recommends wine wine64
tools/install-missing.sh cmake make g++-mingw-w64-x86-64 googletest iproute2 iptables python3 \
  groff-base  # the manual page as text in the .zip

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

echo "== metrics file: atomic replacement with MoveFileExW under Wine"
python3 tests/metrics/prometheus_check.py --wine build-windows/vexmo.exe || [ $? -eq 77 ] || status=1

# The .zip holds the program, the README and the manual page as text, and
# the program runs from it (linked statically, it needs no DLL of the build).
echo "== the Windows package"
rm -f build-windows/vexmo-*-win64.zip
cpack --preset windows >/dev/null
python3 - build-windows/vexmo-*-win64.zip build-windows/package-check <<'END' || status=1
import shutil, sys, zipfile
archive, unpacked = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(archive) as z:
    names = sorted(n for n in z.namelist() if not n.endswith("/"))
    top = names[0].split("/")[0] + "/"
    expected = [top + n for n in ("LICENSE", "README-Windows.txt", "README.md",
                                  "share/vexmo/vexmo.schema.json", "vexmo.exe", "vexmo.txt")]
    if names != expected:
        sys.exit("%s holds %s, expected %s" % (archive, names, expected))
    if z.read(top + "README.md") != open("README.md", "rb").read():
        sys.exit("README.md in %s differs from the checkout's" % archive)
    page = z.read(top + "vexmo.txt").decode("ascii")
    if "\x08" in page or "\x1b" in page or page.count("\n") != page.count("\r\n"):
        sys.exit("vexmo.txt is not plain text with Windows line ends")
    for heading in ("SYNOPSIS", "PRIVILEGES", "EXIT STATUS"):
        if heading not in page:
            sys.exit("vexmo.txt lacks " + heading)
    shutil.rmtree(unpacked, ignore_errors=True)
    z.extractall(unpacked)
print("%s: %s" % (archive, ", ".join(n[len(top):] for n in names)))
END
reply=$(wine build-windows/package-check/vexmo-*-win64/vexmo.exe -c 1 -w 2000 127.0.0.1 </dev/null 2>&1 |
  tr -d '\r') || true
echo "$reply"
grep -qx 'Packets: Sent 1, Received 1 (0% Lost)' <<<"$reply" || {
  echo "FAIL: vexmo.exe from the package did not ping 127.0.0.1"
  status=1
}
exit $status
