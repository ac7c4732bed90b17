#!/usr/bin/env python3
"""--metrics-file against the real parts: promtool, node_exporter's
textfile collector and a Prometheus server read what vexmo writes.

  1. promtool check metrics accepts the file mid-run and at the end, and a
     host text with quotes, a backslash and a line feed in its label;
  2. node_exporter with only the textfile collector serves every family,
     with node_textfile_scrape_error 0, and the escaped host label;
  3. a Prometheus server scraping it every second returns the run's
     vexmo_replies_total and vexmo_requests_total, equal to its JSON
     summary, after 20 requests with one silent stretch (an iptables drop in
     a network namespace of the run's own), and histogram_quantile(0.5)
     falls in the bucket of the run's median;
  4. atomic replacement: a reader that reads the file in a tight loop while
     it is rewritten thousands of times never sees a partial or empty file;
     natively, and with vexmo.exe under Wine (the MoveFileExW path) where a
     Windows build is at hand.

Binds only 127.0.0.1, on free ports; stops everything it started; every
wait is bounded. Usage: prometheus_check.py VEXMO (parts 1 to 4, natively;
ctest runs this) or prometheus_check.py --wine VEXMO_EXE (part 4 under Wine;
tools/test-windows.sh runs this). Exit 77 (skipped) without the tools
(Debian: prometheus, prometheus-node-exporter; wine), or without root (the
runs' own network namespaces)."""
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

SKIP = 77
FAMILIES = ["vexmo_requests_total", "vexmo_replies_total", "vexmo_icmp_errors_total",
            "vexmo_failures_total", "vexmo_rtt_seconds", "vexmo_last_rtt_seconds",
            "vexmo_last_reply_timestamp_seconds", "vexmo_start_time_seconds"]
# kRttBucketBoundsUs (src/driver/rtt_buckets.h) in seconds
BOUNDS = [m * 10 ** e / 1e6 for e in range(1, 9) for m in (1, 2, 5)][:22]
ODD_HOST = 'we"ird\\host\nname'
ODD_LABEL = 'host="we\\"ird\\\\host\\nname"'

failures = []
started = []  # processes to stop at the end


def fail(text):
    print("FAIL " + text, flush=True)
    failures.append(text)


def tool(*names):
    for name in names:
        path = shutil.which(name)
        if path:
            return path
    return None


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def http_get(url, timeout=2.0):
    with urllib.request.urlopen(url, timeout=timeout) as response:
        return response.read().decode("utf-8")


def wait_for(what, predicate, seconds):
    """Polls predicate until it returns something true; fails after seconds."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            value = predicate()
            if value:
                return value
        except (OSError, ValueError, KeyError):
            pass
        time.sleep(0.1)
    fail("gave up waiting %.0f s for %s" % (seconds, what))
    return None


def start(command, **kw):
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)
    started.append(process)
    return process


def stop_all():
    for process in started:
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()


def promtool_check(promtool, text, what):
    run = subprocess.run([promtool, "check", "metrics"], input=text.encode("utf-8"),
                         capture_output=True, timeout=30)
    if run.returncode != 0:
        fail("promtool check metrics refuses the file %s: %s%s"
             % (what, run.stdout.decode(), run.stderr.decode()))
    else:
        print("ok   promtool accepts the file %s" % what, flush=True)


def sample(text, name, labels=""):
    """The value of the sample name{...labels...} in exposition text."""
    for line in text.splitlines():
        if (line.startswith(name + "{") or line.startswith(name + " ")) and labels in line:
            return float(line.rsplit(" ", 1)[1])
    return None


def in_namespace(command):
    """command in a network namespace of its own with only lo up."""
    return ["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$@"', "sh"] + command


def iptables(pid, action, target=("DROP",)):
    subprocess.run(["nsenter", "-t", str(pid), "-n", "iptables", action, "INPUT", "-p", "icmp",
                    "--icmp-type", "echo-request", "-j"] + list(target), check=True, timeout=10)


def silent_stretch_run(vexmo, path, promtool):
    """20 requests to 127.0.0.1 in a namespace: requests 8 to 10 dropped,
    request 14 or so rejected (an ICMP error). Checks the file mid-run;
    returns the JSON summary."""
    process = start(in_namespace([vexmo, "--json", "-c", "20", "-w", "300",
                                  "--metrics-file", path, "127.0.0.1"]))

    def requests():
        with open(path, encoding="utf-8") as f:
            return sample(f.read(), "vexmo_requests_total") or 0

    checked_mid_run = False
    if wait_for("the first request in the metrics file", lambda: requests() >= 1, 10):
        with open(path, encoding="utf-8") as f:
            promtool_check(promtool, f.read(), "mid-run")
            checked_mid_run = True
    if wait_for("request 8", lambda: requests() >= 7, 15):
        iptables(process.pid, "-I")
        wait_for("request 11", lambda: requests() >= 10, 10)
        iptables(process.pid, "-D")
    reject = ("REJECT", "--reject-with", "icmp-host-unreachable")
    if wait_for("request 13", lambda: requests() >= 12, 15):
        iptables(process.pid, "-I", reject)
        wait_for("request 14", lambda: requests() >= 13, 10)
        iptables(process.pid, "-D", reject)
    out, err = process.communicate(timeout=40)
    lines = out.decode("utf-8").splitlines()
    if process.returncode != 0 or err or not lines or not checked_mid_run:
        fail("the 20-request run: status %s, stderr %r" % (process.returncode, err))
        return None
    summary = json.loads(lines[-1])
    print("ok   20 requests, %d replies, %d ICMP errors, %d lost in a row"
          % (summary["replies"], summary["errors"], summary["longest_loss_streak"]), flush=True)
    if summary["longest_loss_streak"] < 2 or summary["replies"] < 10 or summary["errors"] < 1:
        fail("no silent stretch among replies: %s" % lines[-1])
    return summary


def prometheus_query(port, query):
    url = "http://127.0.0.1:%d/api/v1/query?%s" % (port, urllib.parse.urlencode({"query": query}))
    result = json.loads(http_get(url))["data"]["result"]
    return float(result[0]["value"][1]) if result else None


def bucket_of(seconds):
    """The (low, high] bounds of the bucket a time falls in."""
    low = 0.0
    for bound in BOUNDS:
        if seconds <= bound:
            return low, bound
        low = bound
    return low, float("inf")


def check_exporters(vexmo, folder, promtool):
    exporter = tool("prometheus-node-exporter", "node_exporter")
    server = tool("prometheus")
    exporter_port, server_port = free_port(), free_port()
    start([exporter, "--web.listen-address=127.0.0.1:%d" % exporter_port,
           "--collector.disable-defaults", "--collector.textfile",
           "--collector.textfile.directory=" + folder])
    config = os.path.join(folder, "..", "prometheus.yml")
    with open(config, "w", encoding="utf-8") as f:
        f.write("global: {scrape_interval: 1s, evaluation_interval: 1s}\n"
                "scrape_configs:\n"
                "  - job_name: node\n"
                "    static_configs: [{targets: ['127.0.0.1:%d']}]\n" % exporter_port)
    start([server, "--config.file=" + config,
           "--storage.tsdb.path=" + os.path.join(folder, "..", "tsdb"),
           "--web.listen-address=127.0.0.1:%d" % server_port])
    wait_for("node_exporter", lambda: http_get("http://127.0.0.1:%d/metrics" % exporter_port), 20)
    wait_for("the Prometheus server",
             lambda: "Ready" in http_get("http://127.0.0.1:%d/-/ready" % server_port), 60)

    # The odd host: unresolved, its file written at the start and the end.
    odd = os.path.join(folder, "vexmo-odd.prom")
    run = subprocess.run([vexmo, "-c", "1", "--exit-status", "--metrics-file", odd, ODD_HOST],
                         capture_output=True, timeout=30)
    if run.returncode != 2:
        fail("the unresolvable odd host: status %d, expected 2" % run.returncode)
    with open(odd, encoding="utf-8") as f:
        text = f.read()
    promtool_check(promtool, text, "of a host with quotes, a backslash and a line feed")
    if ODD_LABEL not in text:
        fail("the odd host's label is not %s" % ODD_LABEL)

    path = os.path.join(folder, "vexmo-127.0.0.1.prom")
    summary = silent_stretch_run(vexmo, path, promtool)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    promtool_check(promtool, text, "at the end")
    if summary is not None:
        for name, value in [("vexmo_requests_total", summary["sent"]),
                            ("vexmo_replies_total", summary["replies"]),
                            ("vexmo_rtt_seconds_count", summary["replies"])]:
            if sample(text, name) != value:
                fail("%s is %s in the file, the JSON summary says %s"
                     % (name, sample(text, name), value))

    served = http_get("http://127.0.0.1:%d/metrics" % exporter_port)
    missing = [name for name in FAMILIES if "# TYPE %s " % name not in served]
    if missing:
        fail("node_exporter does not serve %s" % missing)
    if sample(served, "node_textfile_scrape_error") != 0:
        fail("node_textfile_scrape_error is %s" % sample(served, "node_textfile_scrape_error"))
    if ODD_LABEL not in served:
        fail("node_exporter does not serve the odd host's label")
    if not missing and sample(served, "node_textfile_scrape_error") == 0:
        print("ok   node_exporter serves the %d families, scrape error 0" % len(FAMILIES))
    if summary is None:
        return

    host = '{host="127.0.0.1"}'
    for name, key in [("vexmo_replies_total", "replies"), ("vexmo_requests_total", "sent")]:
        got = wait_for("Prometheus to have %s %d" % (name, summary[key]),
                       lambda: prometheus_query(server_port, name + host) == summary[key], 15)
        if got:
            print("ok   Prometheus: %s%s = %d, as the JSON summary" % (name, host, summary[key]))
    # The README's PromQL and alert rules are valid.
    readme = open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                               "README.md"), encoding="utf-8").read()
    for query in readme.split("```promql\n", 1)[1].split("```", 1)[0].splitlines():
        url = "http://127.0.0.1:%d/api/v1/query?%s" % (server_port,
                                                        urllib.parse.urlencode({"query": query}))
        try:
            http_get(url)
        except OSError as e:
            fail("the README's PromQL %r: %s" % (query, e))
    rules = os.path.join(folder, "..", "rules.yml")
    with open(rules, "w", encoding="utf-8") as f:
        f.write(readme.split("```yaml\n", 1)[1].split("```", 1)[0])
    run = subprocess.run([promtool, "check", "rules", rules], capture_output=True, timeout=30)
    if run.returncode != 0:
        fail("promtool check rules refuses the README's rules: %s" % run.stdout.decode())
    quantile = prometheus_query(
        server_port, 'histogram_quantile(0.5, vexmo_rtt_seconds_bucket%s)' % host)
    median = summary["rtt_ms"]["median"] / 1000
    # vexmo reads its median off a finer histogram (within 1 %): allow the
    # bucket next to it where the median lies that close to a bound.
    low, high = bucket_of(median * 0.99)[0], bucket_of(median * 1.01)[1]
    if quantile is None or not low <= quantile <= high:
        fail("histogram_quantile(0.5) is %s, vexmo's median %s s is in (%s, %s]"
             % (quantile, median, low, high))
    else:
        print("ok   histogram_quantile(0.5) = %.6f s, in the bucket (%g, %g] of the median %g s"
              % (quantile, low, high, median))


def check_atomic(command, path, what):
    """Reads path in a tight loop while command rewrites it; every read must
    be a whole file."""
    stop = threading.Event()
    seen = {"reads": 0, "versions": set(), "bad": None}

    def reader():
        existed = False
        while not stop.is_set():
            try:
                with open(path, "rb") as f:
                    data = f.read()
            except FileNotFoundError:
                if existed:
                    seen["bad"] = seen["bad"] or "the file was missing after it first existed"
                continue
            except PermissionError:  # never expected, but report it
                seen["bad"] = seen["bad"] or "a read was refused"
                continue
            existed = True
            seen["reads"] += 1
            seen["versions"].add(data)
            if not (data.startswith(b"# HELP vexmo_requests_total") and data.endswith(b"\n")
                    and b"vexmo_start_time_seconds{" in data):
                seen["bad"] = seen["bad"] or "a partial file: %r" % data[-80:]

    thread = threading.Thread(target=reader)
    thread.start()
    try:
        run = subprocess.run(command, capture_output=True, timeout=120)
    finally:
        stop.set()
        thread.join()
    if seen["bad"]:
        fail("%s: %s" % (what, seen["bad"]))
    elif run.returncode != 0 or len(seen["versions"]) < 100:
        fail("%s: status %d, %d versions read" % (what, run.returncode, len(seen["versions"])))
    else:
        print("ok   %s: %d reads of %d versions, none partial"
              % (what, seen["reads"], len(seen["versions"])), flush=True)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--wine":
        return wine_main(os.path.abspath(sys.argv[2]))
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    vexmo = os.path.abspath(sys.argv[1])
    if not os.access(vexmo, os.X_OK):
        print("no program at %s" % vexmo)
        return 2
    promtool = tool("promtool")
    if not promtool or not tool("prometheus-node-exporter", "node_exporter") \
            or not tool("prometheus"):
        print("skipped: promtool, node_exporter or prometheus is not installed "
              "(Debian: prometheus prometheus-node-exporter)")
        return SKIP
    if os.geteuid() != 0 or not tool("unshare") or not tool("nsenter") or not tool("iptables"):
        print("skipped: needs root, unshare, nsenter and iptables (the run's own namespace)")
        return SKIP
    scratch = tempfile.mkdtemp(prefix="vexmo-metrics-")
    try:
        folder = os.path.join(scratch, "textfile")
        os.mkdir(folder)
        check_exporters(vexmo, folder, promtool)
        stop_all()
        # Every request fails at once (lo is down in a fresh namespace): the
        # file is rewritten as fast as vexmo can.
        path = os.path.join(scratch, "fast.prom")
        check_atomic(["unshare", "-n", vexmo, "-c", "3000", "-w", "10", "--metrics-file", path,
                      "127.0.0.1"], path, "native rename")
    finally:
        stop_all()
        shutil.rmtree(scratch, ignore_errors=True)
    return report()


def wine_main(exe):
    """Part 4 with vexmo.exe under Wine: MoveFileExW replaces the file."""
    if not tool("wine") or os.geteuid() != 0:
        print("skipped: needs wine and root")
        return SKIP
    os.environ.setdefault("WINEDEBUG", "-all")
    scratch = tempfile.mkdtemp(prefix="vexmo-metrics-")
    try:
        path = os.path.join(scratch, "wine.prom")
        # Wine's sockets live in its server, outside any namespace of ours:
        # loopback answers, so a fixed cadence bounds the run (3 s).
        check_atomic(["wine", exe, "-c", "300", "--interval", "10ms", "-w", "10",
                      "--metrics-file", "Z:" + path.replace("/", "\\"), "127.0.0.1"], path,
                     "MoveFileExW under Wine")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return report()


def report():
    print("%s: %d failures" % ("FAILED" if failures else "passed", len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
