#!/usr/bin/env python3
"""Writes the array fuzzer's seeds: a format byte (0 image file, 1 binary
file), for a binary file its rows and columns, then the file itself.

    python3 fuzz/arrays/make_seeds.py      # writes fuzz/arrays/seeds/*
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
from seedfiles import write_seeds  # noqa: E402


def pixels(count):
    return struct.pack("<%dH" % count, *((i * 257) & 0xFFFF for i in range(count)))


def image(columns, rows, pixel_count=None):
    count = columns * rows if pixel_count is None else pixel_count
    return b"\x00" + struct.pack("<HH", columns, rows) + pixels(count)


def binary(rows, columns, pixel_count=None):
    count = rows * columns if pixel_count is None else pixel_count
    return b"\x01" + struct.pack("<hh", rows, columns) + pixels(count)


SEEDS = {
    "image_2x3": image(2, 3),
    "image_empty": image(0, 0),
    "image_short": image(10, 10, 2),
    "image_trailing": image(4, 2) + b"\xff" * 6,
    "binary_3x4": binary(3, 4),
    "binary_short": binary(16, 16, 5),
    "binary_negative": binary(-2, 3, 6),
}


def main():
    write_seeds(__file__, SEEDS)


if __name__ == "__main__":
    main()
