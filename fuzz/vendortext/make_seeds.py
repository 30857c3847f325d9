#!/usr/bin/env python3
"""Writes the vendor-request text fuzzer's seeds: three texts ended by zero
bytes, a flags byte (bit 0 read, bits 1-3 hexadecimal plain texts), the
length, then the plain texts' request byte, value and index.

    python3 fuzz/vendortext/make_seeds.py  # writes fuzz/vendortext/seeds/*
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
from seedfiles import write_seeds  # noqa: E402


def seed(request, value, index, read, length, plain=(0xAB, 0x05, 0), hexadecimal=0b111):
    texts = b"".join(t.encode("latin-1") + b"\x00" for t in (request, value, index))
    flags = (1 if read else 0) | (hexadecimal << 1)
    return texts + struct.pack("<BhBHH", flags, length, *plain)


SEEDS = {
    "trigger_write": seed("0xAB", "0x0b", "0", False, 1, (0xAB, 0x0B, 0)),
    "upper_case_value": seed("171", "0X0B", "0", False, 1, (171, 0x0B, 0), 0),
    "status_read": seed("0xab", "0x5", "0x0", True, 64),
    "overflow": seed("0x7fffffff", "12", "0x", True, 8, (1, 2, 3), 0b010),
    "signs_and_spaces": seed(" -0x1", "+077", "  0x10zz", False, -1, (0, 0xFFFF, 0xFFFF)),
    "empty_length": seed("", "", "", True, 0),
}


def main():
    write_seeds(__file__, SEEDS)


if __name__ == "__main__":
    main()
