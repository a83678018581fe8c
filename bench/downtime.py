#!/usr/bin/env python3
"""The server's downtime in an update, from outside: runs an update RUNS
times and appends to OUTPUT, one line a run, the milliseconds from the stop
request to the service running again.

    downtime.py installer|floor RUNS OUTPUT -- COMMAND...

Both programs flush what they print, so a piece of output arrives when its
step is done, and each point is taken as the arrival of the text that marks
it: the installer prints '  service "QZVOPCUA.BRQ"... ' after "Will stop
services..." just before the stop request, and its "ok" after "Will start
services..." once the service runs; the floor, run with --stamps, prints
"stopping" and "running" at the same points.
"""
import os
import subprocess
import sys
import time

SERVICE = '  service "QZVOPCUA.BRQ"... '
# Texts found one after another: those that end at the stop request, then
# those that end once the service runs again.
MARKS = {"installer": (["Will stop services...", SERVICE], ["Will start services...", SERVICE, "ok"]),
         "floor": (["stopping"], ["running"])}

program, runs, output, command = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[5:]
for _ in range(runs):
    start = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    text, ends = "", []  # the output so far; its length and time at each read
    # Raw reads, not lines: a piece without a line break is stamped too.
    while chunk := os.read(process.stdout.fileno(), 65536):
        text += chunk.decode("utf-8", "replace")
        ends.append((len(text), (time.monotonic() - start) * 1000))
    if process.wait() != 0:
        sys.exit(f"downtime.py: {command} ended with {process.returncode}")
    at, points = 0, []
    for marks in MARKS[program]:
        for mark in marks:
            found = text.find(mark, at)
            if found < 0:
                sys.exit(f"downtime.py: {mark!r} not in the output:\n{text}")
            at = found + len(mark)
        points.append(next(stamp for end, stamp in ends if end >= at))
    with open(output, "a") as f:
        f.write(f"{points[1] - points[0]:.1f}\n")
