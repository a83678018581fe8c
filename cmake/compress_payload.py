#!/usr/bin/env python3
"""Compresses one payload file into exactly one zlib stream (RFC 1950).

    compress_payload.py LEVEL INPUT OUTPUT [--corrupt] [--append TEXT]

--corrupt flips one bit of the stored Adler-32, for tests that need a
payload which does not inflate. --append adds TEXT to the end of the file
before it is compressed, for tests that need another build of the same
programs (a program still runs with bytes after its image).
"""
import sys
import zlib

level, source, target = int(sys.argv[1]), sys.argv[2], sys.argv[3]
with open(source, "rb") as f:
    data = f.read()
if "--append" in sys.argv[4:]:
    data += sys.argv[sys.argv.index("--append") + 1].encode()
stream = bytearray(zlib.compress(data, level))
if "--corrupt" in sys.argv[4:]:
    stream[-1] ^= 0x01
with open(target, "wb") as f:
    f.write(stream)
