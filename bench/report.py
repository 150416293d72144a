#!/usr/bin/env python3
"""Writes docs/performance.md (and the message-log plot) from the outputs that
bench/run.sh and bench/http_bench.sh leave in a results folder.

Every line of a benchmark's output of the form "WHAT = VALUE (target OP LIMIT)"
becomes a row of the ratio table; "WHAT = VALUE" pieces without a target are
listed beside it. The message-log sweep comes from backup_bench.json.

Usage: report.py RESULTS_DIR DOCS_DIR
"""
import json
import os
import platform
import re
import shutil
import subprocess
import sys

RATIO = re.compile(r"^(?P<what>.+?) = (?P<value>[0-9.]+)(?P<rest>.*)$")
TARGET = re.compile(r"\(target (?P<op>[<>]=) (?P<limit>[0-9.]+)\)")
SOURCES = [
    ("invoke_bench.txt", "Sample Age through Dorvex (`invoke_bench`)"),
    ("result_bench.txt", "Result tables (`result_bench`)"),
    ("backup_bench.txt", "Backup server tables (`backup_bench`)"),
    ("http.txt", "The host against nginx (`make bench-http`)"),
]


def ratio_rows(text):
    rows = []
    for line in text.splitlines():
        for piece in line.split("; "):
            match = RATIO.match(piece.strip())
            if not match:
                continue
            target = TARGET.search(match["rest"])
            value = float(match["value"])
            if target:
                limit = float(target["limit"])
                met = value <= limit if target["op"] == "<=" else value >= limit
                rows.append((match["what"], match["value"], f"{target['op']} {target['limit']}",
                             "met" if met else "**missed**"))
            else:
                rows.append((match["what"], match["value"] + match["rest"].rstrip(), "", ""))
    return rows


def command_output(args):
    try:
        return subprocess.run(args, capture_output=True, text=True, check=False).stdout.strip()
    except OSError:
        return ""


def machine(results):
    model = ""
    for line in command_output(["lscpu"]).splitlines():
        if line.startswith("Model name:"):
            model = line.split(":", 1)[1].strip()
    memory = 0
    with open("/proc/meminfo", encoding="ascii") as meminfo:
        for line in meminfo:
            if line.startswith("MemTotal:"):
                memory = int(line.split()[1]) // (1024 * 1024)
    compiler = command_output(["c++", "--version"]).splitlines()
    return [
        f"- CPU: {model or platform.processor()}, {os.cpu_count()} logical cores",
        f"- Memory: {memory} GiB",
        f"- Kernel: {platform.release()}",
        f"- Compiler: {compiler[0] if compiler else 'unknown'} (Release build)",
        f"- Commit: {taken_at(results, 'commit.txt') or 'unknown'}",
        f"- Taken: {taken_at(results, 'taken.txt') or 'unknown'}",
    ]


def taken_at(results, name):
    """What bench/run.sh noted about the run (commit, time), not about today."""
    path = os.path.join(results, name)
    if not os.path.exists(path):
        return ""
    with open(path, encoding="utf-8") as file:
        return file.read().strip()


def sweep(results):
    path = os.path.join(results, "backup_bench.json")
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as file:
        data = json.load(file)
    best = {}
    for run in data.get("benchmarks", []):
        if not run["name"].startswith("BM_MessageLogRows/") or run.get("error_occurred"):
            continue
        if run.get("run_type") == "aggregate":
            continue
        rows = int(run["rows"])
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[run["time_unit"]]
        ms = run["real_time"] * scale
        if rows not in best or ms < best[rows][0]:
            best[rows] = (ms, int(run["response_bytes"]))
    return sorted((rows, ms, size) for rows, (ms, size) in best.items())


def plot(points, docs):
    if not points or not shutil.which("gnuplot"):
        return None
    data = os.path.join(docs, ".message-log-rows.dat")
    with open(data, "w", encoding="ascii") as out:
        for rows, ms, _ in points:
            out.write(f"{rows} {ms}\n")
    image = "message-log-rows.png"
    script = f"""
set terminal pngcairo size 800,500 font ',10'
set output '{os.path.join(docs, image)}'
set title 'Message log: one whole invoke through Dorvex'
set xlabel 'rows in the table'
set ylabel 'invoke time (ms)'
set logscale xy
set grid
set key top left
set format x '%.0s%c'
f(x) = a * x
a = {points[-1][1] / points[-1][0]}
plot '{data}' using 1:2 with linespoints pt 7 title 'measured', \\
     f(x) title 'proportional to rows (through the largest)' dt 2
"""
    result = subprocess.run(["gnuplot"], input=script, text=True, capture_output=True, check=False)
    os.remove(data)
    return image if result.returncode == 0 else None


def main():
    results, docs = sys.argv[1], sys.argv[2]
    os.makedirs(docs, exist_ok=True)
    out = ["# Performance", "",
           "Written by `make bench` (and `make bench-http`, which adds the host against nginx)",
           "from one run of each benchmark on this machine. Each ratio is measured side by side",
           "within one run: both sides in the same process (or, for nginx, the same minute),",
           "the best of the repetitions, since noise on a shared machine only ever adds time",
           "(throughput of two threads against one: the median repetition; the host against",
           "nginx: the median of five rounds taken in turns).", "",
           "## Machine", ""] + machine(results) + [""]
    out += ["## Ratios", "", "| measure | value | target | |", "|---|---|---|---|"]
    found = False
    for name, title in SOURCES:
        path = os.path.join(results, name)
        if not os.path.exists(path):
            out.append(f"| *{title}: not run* | | | |")
            continue
        with open(path, encoding="utf-8", errors="replace") as file:
            # Colour codes, should a benchmark have written any, are not text.
            rows = ratio_rows(re.sub(r"\x1b\[[0-9;]*m", "", file.read()))
        for what, value, target, met in rows:
            found = True
            out.append(f"| {title}: {what} | {value} | {target} | {met} |")
    if not found:
        print("report: no ratios found in " + results, file=sys.stderr)
        return 1
    points = sweep(results)
    if points:
        out += ["", "## Message log invoke time against table size", "",
                "One whole invoke (`Norlo Server - Message Log`, every column, no filter) over a",
                "generated state document; best of the runs.", "",
                "| rows | invoke (ms) | response (MB) | ns per row |", "|---|---|---|---|"]
        for rows, ms, size in points:
            out.append(f"| {rows:,} | {ms:.2f} | {size / 1e6:.1f} | {ms * 1e6 / rows:.0f} |")
        image = plot(points, docs)
        if image:
            out += ["", f"![Message log invoke time against rows]({image})"]
    # What the figures mean, and why a target is missed: written by hand.
    notes = os.path.join(os.path.dirname(os.path.abspath(__file__)), "performance-notes.md")
    if os.path.exists(notes):
        with open(notes, encoding="utf-8") as file:
            out += ["", file.read().rstrip()]
    with open(os.path.join(docs, "performance.md"), "w", encoding="utf-8") as file:
        file.write("\n".join(out) + "\n")
    print("report: wrote " + os.path.join(docs, "performance.md"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
