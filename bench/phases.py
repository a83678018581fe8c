#!/usr/bin/env python3
"""Where the time of an installer run goes, from outside: runs a command
several times and stamps each line of its output with the time it arrived.

    phases.py RUNS OUTPUT_JSON [--prepare COMMAND] -- COMMAND...

The installer flushes every piece it prints, so a line arrives when its step
has done its work. Writes, for each output line (the runs print the same
lines), the milliseconds from the previous line in every run; the first line
counts from the start of the process.
"""
import json
import shlex
import subprocess
import sys
import time

runs, output = int(sys.argv[1]), sys.argv[2]
rest = sys.argv[3:]
prepare = None
if rest[0] == "--prepare":
    prepare, rest = shlex.split(rest[1]), rest[2:]
command = rest[1:] if rest[0] == "--" else rest

lines, deltas = None, []
for _ in range(runs):
    if prepare:
        subprocess.run(prepare, check=True, stdout=subprocess.DEVNULL)
    start = last = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    texts, times = [], []
    for raw in process.stdout:
        now = time.monotonic()
        texts.append(raw.decode("utf-8", "replace").rstrip())
        times.append((now - last) * 1000)
        last = now
    if process.wait() != 0:
        sys.exit(f"phases.py: {command} ended with {process.returncode}")
    texts.append("(process ended)")
    times.append((time.monotonic() - last) * 1000)
    if lines is not None and texts != lines:
        sys.exit("phases.py: the runs printed different lines")
    lines = texts
    deltas.append(times)

with open(output, "w") as f:
    json.dump({"lines": lines, "runs": deltas}, f)
