#!/usr/bin/env python3
"""Writes the EPAL fuzzer's seeds: block images of small readout modes, laid
out by config/make_epal.py, so that the fuzzer starts from blocks the loader
accepts and whose frames are small enough to reconstruct on every run.

    python3 fuzz/epal/make_seeds.py        # writes fuzz/epal/seeds/*.hex
"""
import importlib.util
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
from seedfiles import write_seeds  # noqa: E402
CONFIG = os.path.join(HERE, "..", "..", "config", "make_epal.py")

loader = importlib.util.spec_from_file_location("make_epal", CONFIG)
make_epal = importlib.util.module_from_spec(loader)
loader.loader.exec_module(make_epal)
mode = make_epal.mode

SEEDS = {
    # Four mirrored quadrants, pre-scan counts from the settings tables.
    "four_mirrored": mode(1, 16, 8, 2, [(0, 1, 1), (1, -1, 1), (2, 1, -1), (3, -1, -1)], 50, False),
    # Two quadrants carrying their own pre-scan counts.
    "two_from_block": mode(1, 32, 16, 4, [(0, 1, 1), (1, -1, 1)], 20, True),
    # One quadrant binned 2 x 2, mirrored top to bottom.
    "one_binned": mode(2, 24, 12, 0, [(0, 1, -1)], 5, False),
    # Quadrants 1 and 3 only, binned 8 x 8.
    "odd_quadrants": mode(8, 8, 6, 1, [(1, 1, 1), (3, -1, 1)], 100, False),
    # The full-size binned mode: its frame is checked but not reconstructed.
    "large": mode(2, 1024, 1024, 8, [(0, 1, 1), (1, -1, 1), (2, 1, -1), (3, -1, -1)], 50, False),
}


def main():
    write_seeds(__file__, {name: make_epal.epal_block(m) for name, m in SEEDS.items()}, ".hex")


if __name__ == "__main__":
    main()
