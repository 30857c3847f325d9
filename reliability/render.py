#!/usr/bin/env python3
"""Writes RELIABILITY.md from reliability/template.md and the figures in
reliability/results/. A figure that was never measured shows as such
instead of leaving an old number standing."""

import csv
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results"


def read_tsv(name):
    path = RESULTS / name
    if not path.exists():
        return []
    with path.open(newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def read_keys(name):
    path = RESULTS / name
    if not path.exists():
        return {}
    pairs = {}
    for line in path.read_text().splitlines():
        key, sep, value = line.partition(":")
        if sep:
            pairs[key.strip()] = value.strip()
    return pairs


def table(headings, rows):
    lines = ["| " + " | ".join(headings) + " |", "|" + " --- |" * len(headings)]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return "\n".join(lines)


def thousands(text):
    try:
        return f"{int(text):,}"
    except ValueError:
        return text


def not_measured(what):
    return f"Not measured yet: {what}."


def findings():
    # The list of findings is kept by hand; what the check found is merged in.
    listed = []
    with (HERE / "findings.tsv").open(newline="") as f:
        listed = list(csv.DictReader(f, delimiter="\t"))
    checked = {row["id"]: row for row in read_tsv("findings.tsv")}
    rows = []
    for finding in listed:
        check = checked.get(finding["id"], {})
        rows.append([
            finding["id"], finding["finding"], f"`{finding['test']}`", finding["build"],
            check.get("before", "not checked"), check.get("after", "not checked"),
        ])
    return table(["#", "finding", "test", "build", "before the fix", "at the fix"], rows)


BUILDS = {"linux": "native (RelWithDebInfo)", "asan": "AddressSanitizer + UBSan (Debug)",
          "tsan": "ThreadSanitizer (Debug)"}


def build_name(build):
    return BUILDS.get(build, build)


def stress():
    rows = read_tsv("stress.tsv")
    if not rows:
        return not_measured("run `scripts/reliability`")
    return table(
        ["build", "seconds", "pictures right", "pictures failed", "failures by status",
         "wrong pictures reported as success", "date"],
        [[build_name(r["build"]), r["seconds"], r["right"], r["failed"], r["failures"], r["wrong"], r["date"]]
         for r in rows])


def faults():
    rows = read_tsv("faults.tsv")
    if not rows:
        return not_measured("run `scripts/reliability`")
    return table(["build", "tests", "seconds", "result", "date"],
                 [[build_name(r["build"]), r["tests"], r["seconds"], r["result"], r["date"]] for r in rows])


def soak():
    s = read_keys("soak.txt")
    if not s:
        return not_measured("run `scripts/soak 60`")
    keys = ["minutes", "captures", "right", "failed", "wrong", "faults", "hangs", "heap_kib", "rss_kib",
            "threads", "fds", "verdict", "date"]
    return table(["figure", "value"], [[k, s[k]] for k in keys if k in s] +
                 [[k, v] for k, v in s.items() if k not in keys])


def fuzz():
    rows = read_tsv("fuzz.tsv")
    if not rows:
        return not_measured("run `scripts/fuzz 600`")
    return table(["fuzzer", "minutes", "executions", "executions a second", "findings", "date"],
                 [[f"`{r['fuzzer']}`", f"{int(r['seconds']) / 60:g}", thousands(r["executions"]),
                   thousands(r["exec_per_s"]), r["findings"], r["date"]] for r in rows])


def cpu():
    rows = read_tsv("cpu.tsv")
    if not rows:
        return not_measured("run `scripts/reliability`")
    return table(["control round trip (µs)", "control transfers a second",
                  "whole process (cores)", "library alone (cores)", "date"],
                 [[r["latency_us"], thousands(r["transfers_per_s"]), r["core_fraction"],
                   r["library_core_fraction"], r["date"]] for r in rows])


def stages():
    rows = read_tsv("stages.tsv")
    if not rows:
        return not_measured("run `scripts/test`")
    return table(["stage", "seconds"], [[r["stage"], r["seconds"]] for r in rows])


def main():
    text = (HERE / "template.md").read_text()
    for name, render in [("findings", findings), ("stress", stress), ("faults", faults),
                         ("soak", soak), ("fuzz", fuzz), ("cpu", cpu), ("stages", stages)]:
        text = text.replace(f"<!-- table:{name} -->", render())
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else HERE.parent / "RELIABILITY.md"
    out.write_text(text)


if __name__ == "__main__":
    main()
