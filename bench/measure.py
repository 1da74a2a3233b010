"""Runs each benchmark program in kel, python3 and lua alternately, checks that
they print the same result (a program without a .lua file runs in kel and
python3 only; make_data.py writes the input files some programs read) and prints a table of median wall times, their
ratios and the peak resident memory of each run (measured by /usr/bin/time).
With --instructions, and when valgrind is present, each program also runs once
per interpreter under callgrind and the table shows the instructions executed
(in millions) and their ratios, which a busy machine does not change.

usage: measure.py KEL_BINARY [RUNS] [--instructions]
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import make_data

BENCH = os.path.dirname(os.path.abspath(__file__))
PYTHON = "/usr/bin/python3"
LUA = "/usr/bin/lua5.4"
TIME = "/usr/bin/time"

# Programs in table order; each is NAME.kel, NAME.py and NAME.lua in this folder.
PROGRAMS = ["startup", "fib", "count", "string", "block", "map", "object",
            "method", "closure", "call", "return", "alloc", "nbody", "bintrees",
            "parser", "roundtrip", "wordfreq"]
VALGRIND = shutil.which("valgrind")


def instructions(argv):
    """Instructions one run executes, counted by callgrind."""
    with tempfile.NamedTemporaryFile("r") as out:
        subprocess.run([VALGRIND, "--tool=callgrind", f"--callgrind-out-file={out.name}"] + argv,
                       capture_output=True)
        found = re.search(r"^summary:\s+(\d+)", out.read(), re.M)
    return int(found.group(1)) if found else 0


def run_once(argv):
    """Returns (seconds, peak resident KiB, stdout, exit status, stderr) of one run.
    /usr/bin/time reports the peak of the program alone (a child forked from this
    process would count this process's pages too)."""
    with tempfile.NamedTemporaryFile("r") as peak:
        start = time.perf_counter()
        proc = subprocess.run([TIME, "-f", "%M", "-o", peak.name] + argv,
                              capture_output=True)
        elapsed = time.perf_counter() - start
        kib = int(peak.read().split()[-1])
    return elapsed, kib, proc.stdout.decode(), proc.returncode, proc.stderr.decode()


def peers(kel, name):
    path = lambda ext: os.path.join(BENCH, name + ext)
    runs = [("kel", [kel, path(".kel")]), ("python3", [PYTHON, path(".py")])]
    if os.path.exists(path(".lua")):  # the JSON round trip has no Lua peer
        runs.append(("lua", [LUA, path(".lua")]))
    return runs


def main():
    args = [a for a in sys.argv[1:] if a != "--instructions"]
    count = "--instructions" in sys.argv[1:] and VALGRIND is not None
    if "--instructions" in sys.argv[1:] and not VALGRIND:
        print("valgrind is not installed: no instruction counts", file=sys.stderr)
    kel = args[0]
    runs = int(args[1]) if len(args) > 1 else 5
    make_data.main()
    rows = {}
    failed = False
    floor = []  # python3 -c pass, timed alongside the start-up runs
    for name in PROGRAMS:
        times = {}
        memory = {}
        outputs = {}
        for who, argv in peers(kel, name):
            run_once(argv)  # warms the file cache; not counted
        for _ in range(runs):
            if name == "startup":
                floor.append(run_once([PYTHON, "-c", "pass"])[0])
            for who, argv in peers(kel, name):
                seconds, kib, out, code, err = run_once(argv)
                if code != 0:
                    print(f"{name}: {who} exited with {code}: {err.strip()}", file=sys.stderr)
                    failed = True
                times.setdefault(who, []).append(seconds)
                memory[who] = max(memory.get(who, 0), kib)
                outputs.setdefault(who, set()).add(" ".join(out.split()))
        results = set().union(*outputs.values())
        if len(results) != 1:
            print(f"{name}: results differ: {outputs}", file=sys.stderr)
            failed = True
        rows[name] = ({w: statistics.median(t) for w, t in times.items()}, memory)
        counts = {who: instructions(argv) for who, argv in peers(kel, name)} if count else None
        print_row(name, *rows[name], counts)
        sys.stdout.flush()
    floor = statistics.median(floor)
    print(f"\n{PYTHON} -c pass: {floor * 1000:.1f} ms")
    print_targets(rows, floor)
    return 1 if failed else 0


HEADER = (f"{'program':<9} {'kel ms':>9} {'python3 ms':>11} {'lua ms':>9} "
          f"{'kel/py':>7} {'kel/lua':>8}   {'kel MB':>7} {'py MB':>7} {'lua MB':>7}")
printed_header = False


INSTRUCTIONS_HEADER = f"   {'kel Mi':>8} {'py Mi':>8} {'lua Mi':>8} {'kel/py':>7} {'kel/lua':>8}"


def print_row(name, times, memory, counts=None):
    global printed_header
    if not printed_header:
        header = HEADER + (INSTRUCTIONS_HEADER if counts else "")
        print(header)
        print("-" * len(header))
        printed_header = True
    k, p, l = times["kel"], times["python3"], times.get("lua")
    mb = lambda who: f"{memory[who] / 1024:7.1f}" if who in memory else f"{'-':>7}"
    lua_ms = f"{l * 1000:9.1f}" if l else f"{'-':>9}"
    kel_lua = f"{k / l:8.2f}" if l else f"{'-':>8}"
    row = (f"{name:<9} {k * 1000:9.1f} {p * 1000:11.1f} {lua_ms} "
           f"{k / p:7.2f} {kel_lua}   {mb('kel')} {mb('python3')} {mb('lua')}")
    if counts:
        ki, pi, li = counts["kel"], counts["python3"], counts.get("lua")
        mi = lambda n: f"{n / 1e6:8.1f}" if n else f"{'-':>8}"
        ratio = lambda a, b: f"{a / b:.2f}" if a and b else "-"
        row += (f"   {mi(ki)} {mi(pi)} {mi(li)} {ratio(ki, pi):>7} {ratio(ki, li):>8}")
    print(row)


def print_targets(rows, floor):
    verdict = lambda ok: "met" if ok else "NOT met"
    worst = max(rows, key=lambda n: rows[n][0]["kel"] / rows[n][0]["python3"])
    ratio = rows[worst][0]["kel"] / rows[worst][0]["python3"]
    print(f"kel/python3 at most 1.5 everywhere (worst {worst} {ratio:.2f}): {verdict(ratio <= 1.5)}")
    start = rows["startup"][0]["kel"]
    print(f"start-up {start * 1000:.1f} ms, python3 -c pass {floor * 1000:.1f} ms: "
          f"{verdict(start <= floor)}")
    ret = rows["return"][0]["kel"] / rows["call"][0]["kel"]
    print(f"return/call {ret:.2f} (at most 1.3): {verdict(ret <= 1.3)}")
    heavier = [n for n in rows if rows[n][1]["kel"] > rows[n][1]["python3"]]
    print(f"peak memory at most python3's everywhere: {verdict(not heavier)}"
          + (f" (not on {', '.join(heavier)})" if heavier else ""))
    peak = rows["alloc"][1]["kel"] / 1024
    print(f"alloc peak resident {peak:.1f} MB (under 64): {verdict(peak < 64)}")


if __name__ == "__main__":
    sys.exit(main())
