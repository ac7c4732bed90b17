#!/usr/bin/env python3
"""Checks doc/vexmo.schema.json: it is a valid 2020-12 schema, it accepts
every kind of object vexmo --json prints and the examples the README and the
manual page show, and it rejects objects that break it. Exit 77 (skipped)
without python3-jsonschema."""
import copy
import json
import pathlib
import re
import sys

try:
    import jsonschema
except ImportError:
    print("python3-jsonschema is not installed: skipped")
    sys.exit(77)

ROOT = pathlib.Path(__file__).resolve().parents[2]
SCHEMA = ROOT / "doc" / "vexmo.schema.json"
DOCUMENTS = [ROOT / "README.md", ROOT / "doc" / "vexmo.1"]
TIME = "2024-03-01T12:00:00.250Z"

GOOD = {
    "start": {"event": "start", "schema_version": "1.1", "host": "peer \"one\"\n", "family": 4, "size": 56,
              "ip_bytes": 84, "count": 5, "timeout_ms": 3000, "ttl": None, "tos": None,
              "dont_fragment": False, "time": TIME},
    "reply": {"event": "reply", "request": 7, "from": "10.0.0.2", "sequence": 65535,
              "rtt_ms": 0.007, "ttl": 63, "time": TIME},
    "icmp": {"event": "icmp", "request": 0, "from": "10.0.0.1", "type": 11, "code": 0,
             "kind": "Time Exceeded", "reason": "Time To Live exceeded in transit",
             "time": TIME},
    "redirect": {"event": "icmp", "request": 0, "from": "10.0.0.1", "type": 5, "code": 4,
                 "kind": "Redirect", "reason": "Unknown code 4", "gateway": "192.168.1.1",
                 "time": TIME},
    "too big": {"event": "icmp", "request": 0, "from": "2001:db8::1", "type": 2, "code": 0,
                "kind": "Packet Too Big", "reason": None, "mtu": 1280, "time": TIME},
    "failure": {"event": "failure", "request": 4294967294, "error": 10060,
                "message": "Request timeout.", "time": TIME},
    "unresolved": {"event": "unresolved", "request": 0, "host": "no\tsuch", "time": TIME},
    "summary": {"event": "summary", "sent": 6, "received": 4, "replies": 4, "errors": 0,
                "lost_percent": 34,
                "rtt_ms": {"min": 10.0, "avg": 25.0, "max": 40.0, "median": 20.0,
                           "p90": 40.0, "p99": 40.0, "stddev": 12.91, "jitter": 10.0},
                "longest_loss_streak": 2, "interrupted": False, "time": TIME},
    "empty summary": {"event": "summary", "sent": 0, "received": 0, "replies": 0,
                      "errors": 0, "lost_percent": None, "rtt_ms": None,
                      "longest_loss_streak": 0, "interrupted": True, "time": TIME},
}


def changed(name, **fields):
    obj = copy.deepcopy(GOOD[name])
    for key, value in fields.items():
        if value is KeyError:
            del obj[key]
        else:
            obj[key] = value
    return obj


interim = changed("summary", event="interim")
no_median = changed("summary")
del no_median["rtt_ms"]["median"]

# (name, object, valid?)
CASES = [(name, obj, True) for name, obj in GOOD.items()] + [
    ("interim", interim, True),
    ("a field added later", changed("reply", hops=3), True),
    ("ttl and tos given", changed("start", ttl=64, tos=88, dont_fragment=True), True),
    ("IPv6", changed("start", family=6, ip_bytes=104), True),
    ("no IP version 5", changed("start", family=5), False),
    ("schema version not major.minor", changed("start", schema_version="1"), False),
    ("schema version a number", changed("start", schema_version=1.1), False),
    ("unknown event", changed("reply", event="echo"), False),
    ("request missing", changed("reply", request=KeyError), False),
    ("rtt as text", changed("reply", rtt_ms="0.007"), False),
    ("negative request", changed("failure", request=-1), False),
    ("sequence past 16 bits", changed("reply", sequence=65536), False),
    ("local time", changed("reply", time="2024-03-01T13:00:00.250+01:00"), False),
    ("time without milliseconds", changed("reply", time="2024-03-01T12:00:00Z"), False),
    ("gateway on no redirect", changed("icmp", gateway="10.0.0.9"), False),
    ("redirect without gateway", changed("redirect", gateway=KeyError), False),
    ("mtu on no packet too big", changed("icmp", mtu=1500), False),
    ("mtu on fragmentation needed", changed("icmp", type=3, code=4,
                                           kind="Destination Unreachable",
                                           reason="Fragmentation needed and DF set", mtu=576),
     False),
    ("packet too big without mtu", changed("too big", mtu=KeyError), False),
    ("gateway on a quench", changed("icmp", type=4, kind="Source Quench", reason=None,
                                    gateway="10.0.0.9"), False),
    ("reason missing rather than null", changed("icmp", reason=KeyError), False),
    ("lost over 100", changed("summary", lost_percent=101), False),
    ("a figure missing", no_median, False),
    ("interrupted missing", changed("summary", interrupted=KeyError), False),
    ("histogram", changed("summary", histogram=[{"le_ms": 0.01, "count": 0},
                                                {"le_ms": 0.02, "count": 4}]), True),
    ("histogram bucket without bound", changed("summary", histogram=[{"count": 4}]), False),
    ("size below 16", changed("start", size=8), False),
    ("no count (--continuous)", changed("start", count=None), True),
]


def version_problems(schema):
    """The version in $id, in the title and in what vexmo prints
    (kJsonSchemaVersion) must be one."""
    version = schema["$id"].rsplit(":", 1)[1]
    header = (ROOT / "src" / "driver" / "json_lines.h").read_text(encoding="utf-8")
    printed = re.search(r'kJsonSchemaVersion = "([0-9.]+)"', header)
    problems = []
    if not schema["title"].endswith("version " + version):
        problems.append("the title's version is not the $id's " + version)
    if printed is None or printed.group(1) != version:
        problems.append("vexmo prints schema_version %s, the schema is %s"
                        % (printed and printed.group(1), version))
    return problems


def main():
    schema = json.loads(SCHEMA.read_text(encoding="utf-8"))
    for problem in version_problems(schema):
        print("FAIL", problem)
        return 1
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    failed = 0
    for name, obj, valid in CASES:
        # Through the text form, as a reader of the lines sees them.
        errors = list(validator.iter_errors(json.loads(json.dumps(obj))))
        if bool(errors) == valid:
            failed += 1
            print(f"FAIL {name}: expected {'valid' if valid else 'invalid'}",
                  errors[0].message if errors else "")
    examples = 0
    for document in DOCUMENTS:
        for number, line in enumerate(document.read_text(encoding="utf-8").splitlines(), 1):
            if line.startswith('{"event":'):
                examples += 1
                errors = list(validator.iter_errors(json.loads(line)))
                if errors:
                    failed += 1
                    print(f"FAIL {document.name}:{number}:", errors[0].message)
    print(f"{len(CASES) + examples - failed} of {len(CASES) + examples} schema cases passed"
          f" ({examples} examples from the documents)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
