"""Every case once more with --json: its twin.

The twin is the same case with --json first among its arguments (with a
responder address of its own). A run with --json is checked as it comes:
every line one JSON object in UTF-8, valid against doc/vexmo.schema.json, the
objects in their order, their figures agreeing with each other to the
microsecond and their times in UTC within the run. Then its lines are turned
into the text lines they stand for, and the run goes through the case's
checks as the text run does: the JSON must tell the same story as the text,
with the same requests, answers, times and summary.
"""
import datetime
import json
import os
import re
import time
from decimal import Decimal

from expect import figure_problems, figures_of

try:
    import jsonschema
except ImportError:  # Debian: python3-jsonschema
    jsonschema = None

SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "doc",
                      "vexmo.schema.json")
REQUEST_EVENTS = ("reply", "icmp", "failure", "unresolved")
NO_RUN = {"-h", "-?", "--help", "--version"}
FIGURES = ("min", "avg", "max", "median", "p90", "p99", "stddev", "jitter")
THREE_DECIMALS = re.compile(r'"(?:rtt_ms|%s)":(\d+(?:\.\d*)?)' % "|".join(FIGURES))


def validator():
    """The schema's validator, or None without python3-jsonschema."""
    if jsonschema is None:
        return None
    with open(SCHEMA, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema)


class Twins:
    """Stands for a case table while a table module adds its cases: each
    case it adds becomes its --json twin. The usage text, the help and the
    version are no run and have none. Routed destinations keep the source
    address the text case has; the router does not limit its errors."""

    twin = True

    def __init__(self, table):
        self.table = table

    @property
    def cases(self):
        return self.table.cases

    @property
    def own_sources(self):
        return self.table.own_sources

    def add(self, name, args, expect, *rest, **kw):
        if (rest[0] if rest else kw.get("status", 0)) != 0 or set(args) & NO_RUN:
            return None
        if getattr(kw.get("unprivileged"), "pid", None):
            # The pid the text case chooses, so its identifier: not at the same time.
            kw["solo"] = True
        return self.table.add(name + " [--json]", ["--json"] + list(args), expect, *rest,
                              json=True, **kw)

    def responder(self, *actions, **behaviour):
        return self.table.responder(*actions, **behaviour)

    def responder6(self, *actions, **behaviour):
        return self.table.responder6(*actions, **behaviour)

    def routed(self, destination):
        if any(d == destination for d, _ in self.table.own_sources):
            return destination
        return self.table.routed(destination)


class Rendering:
    """Wraps a runner (its run's argument list at position args_at): a run
    with --json is checked and its output turned into the text it stands
    for; result.json keeps the objects, result.json_stdout the lines."""

    def __init__(self, runner, schema, args_at=0):
        self.runner = runner
        self.schema = schema
        self.args_at = args_at

    def __getattr__(self, name):
        return getattr(self.runner, name)

    def run(self, *a, **kw):
        wall_start = time.time()
        result = self.runner.run(*a, **kw)
        wall_end = time.time()
        args = a[self.args_at] if len(a) > self.args_at else kw["args"]
        if "--json" in args:
            render(result, args, self.schema, (wall_start - 2.0, wall_end + 2.0))
        return result


def render(result, args, schema, window):
    """Checks the JSON lines of result and puts the text they stand for in
    its stdout."""
    problems = []
    result.json_stdout = result.stdout
    result.json = []
    try:
        text = result.stdout.encode("latin-1").decode("utf-8")
    except UnicodeDecodeError as err:
        problems.append("not UTF-8: %s" % err)
        text = result.stdout
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    for number, line in enumerate(lines, 1):
        try:
            obj = json.loads(line, parse_float=Decimal)
            plain = json.loads(line)
        except ValueError:
            problems.append("line %d is not JSON: %r" % (number, line[:120]))
            continue
        if not isinstance(obj, dict):
            problems.append("line %d is not an object" % number)
            continue
        if schema is not None:
            for err in schema.iter_errors(plain):
                problems.append("line %d against the schema: %s (at %s)"
                                % (number, err.message, "/".join(map(str, err.path))))
        for figure in THREE_DECIMALS.findall(line):
            if not re.fullmatch(r"\d+\.\d{3}", figure):
                problems.append("line %d: %s has not three decimals" % (number, figure))
        result.json.append(obj)
    problems += story_problems(result.json, args, window)
    result.problems += ["json: " + p for p in problems]
    result.stdout = "".join(line + "\n" for line in text_lines(result.json, "--stats" in args))


def us(value):
    """Milliseconds with three decimals (a Decimal) as whole microseconds."""
    return int(Decimal(value) * 1000)


def text_lines(objects, with_stats):
    """The text lines the objects stand for."""
    lines = []
    for obj in objects:
        event = obj.get("event")
        if event == "start":
            lines.append("Ping to %s, buffer size %s Bytes (IP+ICMP+DATA %s Bytes)"
                         % (obj.get("host"), obj.get("size"), obj.get("ip_bytes")))
        elif event == "reply":
            line = "%s: Time: %s ms, Sequence: %s" % (obj.get("from"), obj.get("rtt_ms"),
                                                      obj.get("sequence"))
            lines.append(line + (", Ttl: %s" % obj["ttl"] if obj.get("ttl") is not None else ""))
        elif event == "icmp":
            # only the Time Exceeded line names the sender, in either family
            line = "%s: " % obj.get("from") if obj.get("kind") == "Time Exceeded" else ""
            line += "ICMP: %s" % obj.get("kind")
            if "gateway" in obj:
                line += ", Gateway: %s" % obj["gateway"]
            if "mtu" in obj:
                line += ", MTU: %s" % obj["mtu"]
            if obj.get("reason") is not None:
                line += ", Reason: %s" % obj["reason"]
            lines.append(line)
        elif event == "failure":
            lines.append(str(obj.get("message")))
        elif event == "unresolved":
            lines.append("Can not resolve IP address for %s" % obj.get("host"))
        elif event in ("summary", "interim"):
            lines += summary_lines(obj, with_stats)
    return lines


def summary_lines(obj, with_stats):
    lines = []
    if obj.get("sent"):
        lines += ["", "Packets: Sent %s, Received %s (%s%% Lost)"
                  % (obj.get("sent"), obj.get("received"), obj.get("lost_percent"))]
    rtt = obj.get("rtt_ms") or {}
    ms = {k: rtt.get(k, "0.000") for k in FIGURES}
    lines.append("Rount Trip Time (Min/Avg/Max): %s ms/%s ms/%s ms"
                 % (ms["min"], ms["avg"], ms["max"]))
    if with_stats:
        lines.append("Round Trip Time (Median/P90/P99/StdDev/Jitter): %s ms/%s ms/%s ms/%s ms/"
                     "%s ms" % tuple(ms[k] for k in FIGURES[3:]))
    return lines


def statistics_problems(stats, requests):
    """A summary or interim object against the request objects before it."""
    problems = []
    event = stats.get("event")
    sent = [o for o in requests if o.get("event") != "unresolved"]
    replies = [o for o in sent if o.get("event") == "reply"]
    errors = [o for o in sent if o.get("event") == "icmp"]
    cut = 1 if stats.get("interrupted") and stats.get("sent") == len(sent) + 1 else 0
    want = dict(sent=len(sent) + cut, received=len(replies) + len(errors), replies=len(replies),
                errors=len(errors))
    for key, value in want.items():
        if stats.get(key) != value:
            problems.append("%s %s is %s, the request objects say %s"
                            % (event, key, stats.get(key), value))
    total = want["sent"]
    lost = 100 - want["received"] * 100 // total if total else None
    if stats.get("lost_percent") != lost:
        problems.append("%s lost_percent %s, expected %s" % (event, stats.get("lost_percent"), lost))
    rtt = stats.get("rtt_ms")
    if not replies:
        if rtt is not None:
            problems.append("%s rtt_ms without an echo reply" % event)
    elif not isinstance(rtt, dict):
        problems.append("%s rtt_ms is %r after %d replies" % (event, rtt, len(replies)))
    else:
        got_us = {key: us(value) for key, value in rtt.items() if key in FIGURES}
        problems += figure_problems(event + " rtt_ms:", got_us,
                                    figures_of([us(o["rtt_ms"]) for o in replies]))
    answered = {o.get("request") for o in replies + errors}
    streak = longest = 0
    for index in range(total):
        streak = 0 if index in answered else streak + 1
        longest = max(longest, streak)
    if stats.get("longest_loss_streak") != longest:
        problems.append("%s longest_loss_streak %s, expected %d"
                        % (event, stats.get("longest_loss_streak"), longest))
    return problems


def start_problems(start, args):
    """The start object against the arguments of the run."""
    problems = []

    def value_of(option):
        if option in args and args.index(option) + 1 < len(args):
            try:
                return int(args[args.index(option) + 1], 0)
            except ValueError:
                return None
        return None

    if start.get("dont_fragment") != ("-f" in args):
        problems.append("start dont_fragment %s with arguments %s" % (start.get("dont_fragment"),
                                                                       args))
    for key, option in (("ttl", "-i"), ("tos", "-t")):
        if (start.get(key) is None) == (option in args):
            problems.append("start %s %s with arguments %s" % (key, start.get(key), args))
    count, timeout = value_of("-c"), value_of("-w")
    if "-c" not in args:
        want_count = 5
    else:
        want_count = None if count is None else max(1, count)  # -c 0 sends one
    for key, want in (("count", want_count),
                      ("timeout_ms", 3000 if "-w" not in args else timeout)):
        if want is not None and start.get(key) != want:
            problems.append("start %s %s, expected %s" % (key, start.get(key), want))
    headers = 48 if start.get("family") == 6 else 28  # IP and ICMP headers
    if start.get("ip_bytes") != (start.get("size") or 0) + headers:
        problems.append("start ip_bytes %s for size %s, family %s"
                        % (start.get("ip_bytes"), start.get("size"), start.get("family")))
    return problems


def time_of(obj):
    try:
        stamp = datetime.datetime.strptime(obj.get("time", ""), "%Y-%m-%dT%H:%M:%S.%fZ")
    except (TypeError, ValueError):
        return None
    return stamp.replace(tzinfo=datetime.timezone.utc).timestamp()


def story_problems(objects, args, window):
    """The order of the objects, their request indices, their times and the
    figures of every summary."""
    if not objects:
        return ["no JSON lines at all"]
    problems = []
    events = [o.get("event") for o in objects]
    if events[0] != "start" or events.count("start") != 1:
        problems.append("the first object and only it must be the start, got %s" % events[:3])
    if events[-1] != "summary" or events.count("summary") != 1:
        problems.append("the last object and only it must be the summary, got %s" % events[-3:])
    if "unresolved" in events and events.index("unresolved") != len(events) - 2:
        problems.append("objects after unresolved but the summary")
    if events[0] == "start":
        problems += start_problems(objects[0], args)
    requests = []
    previous = None
    for obj in objects:
        event = obj.get("event")
        if event in REQUEST_EVENTS:
            if obj.get("request") != len(requests):
                problems.append("%s of request %s where request %d was next"
                                % (event, obj.get("request"), len(requests)))
            requests.append(obj)
        elif event in ("summary", "interim"):
            problems += statistics_problems(obj, requests)
        stamp = time_of(obj)
        if stamp is None or not window[0] <= stamp <= window[1]:
            problems.append("%s time %s outside the run (UTC %s to %s)" % (
                event, obj.get("time"),
                datetime.datetime.fromtimestamp(window[0], datetime.timezone.utc).isoformat(),
                datetime.datetime.fromtimestamp(window[1], datetime.timezone.utc).isoformat()))
        elif previous is not None and stamp < previous:
            problems.append("%s time %s before the one of the line above" % (event, obj["time"]))
        previous = stamp if stamp is not None else previous
    return problems


def icmp_told(sender=None, **fields):
    """A check of the ICMP objects of a --json run (a text run has none):
    the sender of the message (which the text line names only for Time
    Exceeded) and fields such as the next hop's mtu."""
    def check(result):
        problems = []
        for obj in getattr(result, "json", []):
            if obj.get("event") != "icmp":
                continue
            if sender is not None and obj.get("from") != sender:
                problems.append("json: icmp from %s, expected %s" % (obj.get("from"), sender))
            for key, value in fields.items():
                if obj.get(key) != value:
                    problems.append("json: icmp %s %s, expected %s" % (key, obj.get(key), value))
        return problems
    return check


def interrupted_problems(case, result):
    """The summary says whether the user stopped the run."""
    summaries = [o for o in getattr(result, "json", []) if o.get("event") == "summary"]
    if summaries and summaries[-1].get("interrupted") is not case.interrupted:
        return ["json: summary interrupted is %s" % summaries[-1].get("interrupted")]
    return []
