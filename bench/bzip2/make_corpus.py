#!/usr/bin/env python3
"""Writes the engines benchmark's folder: about SIZE_MB (100 by default) of
mixed files, 200 of them, the same bytes on every machine (fixed seeds, no
system files). The mix is chosen to compress to about half at level 9, as a
product's files do: prose-like text, CSV numbers, structured binary records,
machine-code-like bytes with repeats, and a fifth of random bytes.

    make_corpus.py FOLDER [SIZE_MB]
"""
import os
import random
import struct
import sys


def words(rng):
    syllables = ["al", "be", "con", "de", "en", "fo", "ga", "in", "lo", "ma", "ne", "or",
                 "pa", "qu", "re", "st", "ta", "un", "ve", "wi", "xy", "zo", "th", "ing"]
    vocabulary = []
    for _ in range(6000):
        vocabulary.append("".join(rng.choice(syllables) for _ in range(rng.randint(1, 4))))
    weights = [1.0 / (rank + 1) for rank in range(len(vocabulary))]
    return vocabulary, weights


def text_file(rng, size, vocabulary, weights):
    out = []
    length = 0
    while length < size:
        line = " ".join(rng.choices(vocabulary, weights, k=rng.randint(6, 16)))
        line = line[0].upper() + line[1:] + ".\n"
        out.append(line)
        length += len(line)
    return "".join(out).encode()[:size]


def csv_file(rng, size):
    out = []
    length = 0
    row = 0
    while length < size:
        row += 1
        line = "%d,%d,%.3f,%s,%d\n" % (row, rng.randint(0, 99999), rng.gauss(100, 25),
                                       rng.choice(("north", "south", "east", "west")),
                                       rng.randint(1990, 2026))
        out.append(line)
        length += len(line)
    return "".join(out).encode()[:size]


def record_file(rng, size):
    out = bytearray()
    key = 0
    while len(out) < size:
        key += rng.randint(1, 7)
        out += struct.pack("<IHHIB7x", key, rng.randint(0, 15), rng.randint(0, 300),
                           rng.randint(0, 1 << 20), rng.randint(0, 3))
    return bytes(out[:size])


def code_file(rng, size):
    # Short "instructions" drawn from a small repertoire, with reused
    # sequences, as compiled code has.
    repertoire = [bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 7))) for _ in range(700)]
    out = bytearray()
    recent = []
    while len(out) < size:
        if recent and rng.random() < 0.3:
            out += rng.choice(recent)
        else:
            piece = b"".join(rng.choice(repertoire) for _ in range(rng.randint(2, 12)))
            out += piece
            recent.append(piece)
            if len(recent) > 400:
                recent.pop(0)
    return bytes(out[:size])


def main():
    folder = sys.argv[1]
    total = int(float(sys.argv[2]) * 1000000) if len(sys.argv) > 2 else 100000000
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(20261211)
    vocabulary, weights = words(rng)
    kinds = ["text", "text", "csv", "records", "code", "random", "random", "text", "random", "code"]
    count = 200
    # Sizes vary around the mean: a few large files, many small ones.
    shares = [rng.paretovariate(1.5) for _ in range(count)]
    scale = total / sum(shares)
    for index in range(count):
        size = max(1, int(shares[index] * scale))
        kind = "installer" if index == 0 else kinds[index % len(kinds)]
        if kind == "text":
            data = text_file(rng, size, vocabulary, weights)
        elif kind == "csv":
            data = csv_file(rng, size)
        elif kind == "records":
            data = record_file(rng, size)
        elif kind in ("code", "installer"):
            data = code_file(rng, size)
        else:
            data = rng.randbytes(size)
        name = "VTRInstaller.exe" if index == 0 else "%03d-%s.dat" % (index, kind)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
