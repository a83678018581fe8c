#!/usr/bin/env python3
"""Runs a program on a pseudo-terminal and presses Ctrl+C once its output,
escape sequences taken out, holds TEXT; prints what the terminal received
and exits with the program's exit code.

    press_ctrl_c.py TEXT PROGRAM [ARGS...]
"""
import os
import pty
import re
import select
import sys

text, command = sys.argv[1].encode(), sys.argv[2:]
pid, terminal = pty.fork()
if pid == 0:
    os.execvp(command[0], command)
received, pressed = b"", False
while select.select([terminal], [], [], 120)[0]:
    try:
        data = os.read(terminal, 4096)
    except OSError:  # the program has ended
        break
    if not data:
        break
    received += data
    if not pressed and text in re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", received):
        os.write(terminal, b"\x03")
        pressed = True
_, status = os.waitpid(pid, 0)
sys.stdout.buffer.write(received)
sys.exit(os.waitstatus_to_exitcode(status))
