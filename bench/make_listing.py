#!/usr/bin/env python3
"""Writes a realistic difference listing of a given size, the same bytes for
the same options every time.

The listing is what comparing two table exports gives: change hunks
("12c12", "< rec", "---", "> rec"), add hunks ("30a31,33" then "> rec"
lines) and delete hunks ("40,41d39" then "< rec" lines), with records of 40
to 240 bytes. Optionally one record is a single very long line.

    make_listing.py --size 128M --seed 1 [--crlf] [--long-line 256M] OUT
"""

import argparse
import random
import sys

_WORDS = (
    "Drill Lathe Mill Press Weld Paint Assemble Inspect Pack Ship Cut Grind Bore "
    "Ream Tap Deburr Anneal Harden Polish Coat Bend Punch Shear Rivet Glue Test "
    "Bracket Housing Shaft Gear Flange Bushing Washer Spacer Cover Panel Frame "
    "Bolt Nut Pin Spring Valve Seal Hose Clamp Plate Rail Beam Tube Rod Sleeve"
).split()


def parse_size(text):
    """'128M' -> bytes; K, M and G are powers of 1024."""
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    text = text.strip().upper().removesuffix("IB").removesuffix("B")
    if text and text[-1] in units:
        return int(float(text[:-1]) * units[text[-1]])
    return int(text)


class Records:
    """Record bodies of 40 to 240 bytes, like rows of a routing export."""

    def __init__(self, rng):
        self._rng = rng
        # A pool of distinct descriptions keeps generation fast while the
        # listing still varies from line to line.
        self._phrases = [
            " ".join(rng.choice(_WORDS) for _ in range(rng.randint(2, 30))) for _ in range(4096)
        ]

    def make(self):
        rng = self._rng
        target = rng.randint(40, 240) - 2  # the marker and its blank
        head = "%d\t%s-%04d\t%d\t%04d-%02d-%02d\t%d.%02d\t" % (
            rng.randint(1, 999999),
            rng.choice(("OP", "WC", "IT", "RT")),
            rng.randint(0, 9999),
            rng.randint(1, 99),
            rng.randint(1998, 2024),
            rng.randint(1, 12),
            rng.randint(1, 28),
            rng.randint(0, 9999),
            rng.randint(0, 99),
        )
        body = head + rng.choice(self._phrases)
        while len(body) < target:
            body += " " + rng.choice(self._phrases)
        return body[:target].rstrip() or "x"


def hunks(rng, records):
    """Yields hunks as lists of lines without line ends."""
    left = right = 1
    while True:
        left += rng.randint(0, 40)
        right += rng.randint(0, 40)
        kind = rng.random()
        if kind < 0.5:  # change
            n, m = rng.randint(1, 4), rng.randint(1, 4)
            lines = ["%sc%s" % (span(left, n), span(right, m))]
            lines += ["< " + records.make() for _ in range(n)]
            lines.append("---")
            lines += ["> " + records.make() for _ in range(m)]
        elif kind < 0.75:  # add
            n, m = 0, rng.randint(1, 6)
            lines = ["%da%s" % (left - 1, span(right, m))]
            lines += ["> " + records.make() for _ in range(m)]
        else:  # delete
            n, m = rng.randint(1, 6), 0
            lines = ["%sd%d" % (span(left, n), right - 1)]
            lines += ["< " + records.make() for _ in range(n)]
        left += n
        right += m
        yield lines


def span(start, count):
    return str(start) if count == 1 else "%d,%d" % (start, start + count - 1)


def write_long_line(out, size, newline):
    """One delete hunk whose single record is `size` bytes long."""
    out.write(b"1d0" + newline + b"< ")
    block = (b"0123456789abcdefghijklmnopqrstuvwxyz" * 29128)[: 1 << 20]
    remaining = max(size - 2, 0)
    while remaining > 0:
        piece = block[: min(len(block), remaining)]
        out.write(piece)
        remaining -= len(piece)
    out.write(newline)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out", help="file to write ('-' for standard output)")
    parser.add_argument("--size", default="16M", help="approximate size, e.g. 128M or 1G")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--crlf", action="store_true", help="end lines with CR LF")
    parser.add_argument("--long-line", default="0", help="also one record line of this size")
    args = parser.parse_args()

    size = parse_size(args.size)
    newline = b"\r\n" if args.crlf else b"\n"
    rng = random.Random(args.seed)
    out = sys.stdout.buffer if args.out == "-" else open(args.out, "wb")
    with out:
        # SIZE counts the records; the long line, if any, comes half-way.
        long_line = parse_size(args.long_line)
        written = 0
        pending = []
        pending_size = 0
        sep = newline.decode()
        for hunk in hunks(rng, Records(rng)):
            if written + pending_size >= size:
                break
            text = sep.join(hunk) + sep
            pending.append(text)
            pending_size += len(text)
            if pending_size >= 1 << 16 or written + pending_size >= size:
                data = "".join(pending).encode()
                out.write(data)
                written += len(data)
                pending, pending_size = [], 0
                if long_line and written >= size // 2:
                    write_long_line(out, long_line, newline)
                    long_line = 0
        if pending:
            out.write("".join(pending).encode())
        if long_line:
            write_long_line(out, long_line, newline)

if __name__ == "__main__":
    main()
