#!/usr/bin/env python3
"""Where the time of an installer run goes, from outside: runs a command
several times and stamps its output with the time each piece arrived.

    phases.py RUNS OUTPUT_JSON [--prepare COMMAND] -- COMMAND...

The installer flushes every piece it prints, so a piece arrives when its
step has done its work (or, for a piece that ends without a line break,
when the step is about to start it: "  service "X"... " comes just before
the service is asked to stop or start, its "ok" once that is done). Writes,
for each output line (the runs print the same lines), the milliseconds from
the previous line in every run, the first line counting from the start of
the process; and, for every run, each piece as it was read: milliseconds
since the start and its text.
"""
import json
import os
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

lines, deltas, pieces = None, [], []
for _ in range(runs):
    if prepare:
        subprocess.run(prepare, check=True, stdout=subprocess.DEVNULL)
    start = last = time.monotonic()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
    texts, times, read, pending = [], [], [], b""
    # Raw reads, not lines: each returns what the pipe holds as soon as
    # anything is there, so a piece without a line break is stamped too.
    while chunk := os.read(process.stdout.fileno(), 65536):
        now = time.monotonic()
        read.append([(now - start) * 1000, chunk.decode("utf-8", "replace")])
        pending += chunk
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            texts.append(line.decode("utf-8", "replace").rstrip())
            times.append((now - last) * 1000)
            last = now
    if process.wait() != 0:
        sys.exit(f"phases.py: {command} ended with {process.returncode}")
    if pending:
        texts.append(pending.decode("utf-8", "replace").rstrip())
        times.append((time.monotonic() - last) * 1000)
        last = time.monotonic()
    texts.append("(process ended)")
    times.append((time.monotonic() - last) * 1000)
    if lines is not None and texts != lines:
        sys.exit("phases.py: the runs printed different lines")
    lines = texts
    deltas.append(times)
    pieces.append(read)

with open(output, "w") as f:
    json.dump({"lines": lines, "runs": deltas, "pieces": pieces}, f)
