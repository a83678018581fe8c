#!/usr/bin/env python3
"""Makes the three payloads of the benchmark, of the product's real sizes.

    make_payloads.py SERVER_STAND_IN OUTPUT_DIR

qzv.ua.brq.exe is the stand-in service program with filler appended after
its image (an overlay, which the loader ignores, so that it still runs as a
service); qzv.ua.brq.ctrl.exe and qzv.ua.brq.dev.exe are filler alone. The
filler looks like a program to deflate: blocks of "code" drawn from a small
vocabulary of byte strings, among which some blocks of random bytes. How
many blocks are random is searched so that each file's zlib level-1 stream
comes to its target size. Everything comes from seeded generators, so
the same zlib makes the same files on every machine.
"""
import os
import random
import sys
import zlib

BLOCK = 4096
# name, exact file size, target size of its level-1 stream, seed
PAYLOADS = [
    ("qzv.ua.brq.exe", 3_028_856, 1_332_700, 101),  # no figure given: the tools' ratio, 0.44
    ("qzv.ua.brq.ctrl.exe", 995_192, 461_173, 102),
    ("qzv.ua.brq.dev.exe", 693_112, 282_312, 103),
]


def code_block(rng, vocabulary):
    out = bytearray()
    while len(out) < BLOCK:
        # Short tokens often, long ones rarely, like instructions and the
        # constants between them.
        out += vocabulary[min(int(rng.expovariate(1 / 24)), len(vocabulary) - 1)]
    return bytes(out[:BLOCK])


def make(head, size, target, seed):
    """head + filler of exactly `size` bytes whose level-1 stream is near `target`.

    Every block exists as code and as random bytes; the first n blocks of a
    seeded order are random, and the next one random for its first k bytes.
    n and then k are searched (the stream grows with both)."""
    rng = random.Random(seed)
    vocabulary = [rng.randbytes(rng.randint(1, 7)) for _ in range(512)]
    count = (size - len(head) + BLOCK - 1) // BLOCK
    code = [code_block(rng, vocabulary) for _ in range(count)]
    noise = [rng.randbytes(BLOCK) for _ in range(count)]
    order = list(range(count))
    random.Random(seed * 7919).shuffle(order)

    def build(n, k):
        blocks = list(code)
        for i in order[:n]:
            blocks[i] = noise[i]
        if n < count:
            i = order[n]
            blocks[i] = noise[i][:k] + code[i][k:]
        return head + b"".join(blocks)[: size - len(head)]

    def stream(n, k):
        return len(zlib.compress(build(n, k), 1))

    low, high = 0, count  # the largest n whose stream stays at or below target
    while low < high:
        mid = (low + high + 1) // 2
        if stream(mid, 0) <= target:
            low = mid
        else:
            high = mid - 1
    n = low
    low, high = 0, BLOCK
    while low < high:
        mid = (low + high + 1) // 2
        if stream(n, mid) <= target:
            low = mid
        else:
            high = mid - 1
    data = build(n, low)
    return data, len(zlib.compress(data, 1))


def main():
    stand_in, out_dir = sys.argv[1], sys.argv[2]
    os.makedirs(out_dir, exist_ok=True)
    with open(stand_in, "rb") as f:
        image = f.read()
    for name, size, target, seed in PAYLOADS:
        head = image if name == "qzv.ua.brq.exe" else b""
        data, length = make(head, size, target, seed)
        assert len(data) == size
        path = os.path.join(out_dir, name)
        # Rewritten only when changed, so that nothing is recompressed or relinked.
        if not os.path.exists(path) or open(path, "rb").read() != data:
            with open(path, "wb") as f:
                f.write(data)
        print(f"{name}: {size} bytes, level-1 stream {length} bytes (target {target})")


if __name__ == "__main__":
    main()
