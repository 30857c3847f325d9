#!/usr/bin/env python3
"""Writes the EPAL hex files of the simulated camera's readout modes.

The hex files are raw 400-byte block images (not text): bytes 0-63 the FPGA
block, 64-127 clock voltages and offset DACs, 128-191 calibration, 246-253 the
active and overscan sizes, 256-399 the reconstruction block. They are
committed; run this script after changing a mode and commit its output:

    python3 config/make_epal.py            # writes config/epal/mode<N>.hex
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# Pre-scan counts of the settings INI, by binning factor: (columns, rows, fixed).
PRESCAN_BY_BINNING = {1: (18, 16, 3), 2: (9, 3, 3), 4: (5, 2, 2), 8: (2, 2, 4)}

SETPOINT_COUNTS = 25315  # -20.00 C in 0.01 K counts


def sign_magnitude(value):
    return (0x8000 | -value) if value < 0 else value


def mode(binning, width, height, overscan, quadrants, exposure_ms, prescan_from_block):
    """quadrants: list of (index, output column stride, output row stride)."""
    return dict(binning=binning, width=width, height=height, overscan=overscan,
                quadrants=quadrants, exposure=exposure_ms, from_block=prescan_from_block)


MODES = [
    # Four quadrants of 2048 x 2048, each read from its own corner: the right
    # ones mirrored left to right, the lower ones top to bottom.
    mode(1, 2048, 2048, 16, [(0, 1, 1), (1, -1, 1), (2, 1, -1), (3, -1, -1)], 50, False),
    # The same sensor binned 2 x 2.
    mode(2, 1024, 1024, 8, [(0, 1, 1), (1, -1, 1), (2, 1, -1), (3, -1, -1)], 50, False),
    # Two quadrants, each half of the sensor's width over its full height,
    # with the pre-scan counts carried by the block itself.
    mode(1, 2048, 4096, 16, [(0, 1, 1), (1, -1, 1)], 50, True),
    # The whole sensor through one output, mirrored left to right.
    mode(1, 4096, 4096, 16, [(0, -1, 1)], 50, True),
]


def epal_block(m):
    block = bytearray(400)
    count = len(m["quadrants"])
    columns, rows, fixed = PRESCAN_BY_BINNING[m["binning"]]
    raw_width = m["width"] + m["overscan"] + fixed
    if raw_width % count:
        raw_width = (raw_width // count + 1) * count
    raw_height = m["height"] + m["overscan"]

    block[18] = m["binning"]  # column binning
    block[21] = m["binning"]  # row binning
    struct.pack_into("<HH", block, 23, m["width"] + m["overscan"] + columns,
                     m["height"] + m["overscan"] + rows)
    block[30] = 0  # no test pattern
    struct.pack_into("<HH", block, 33, raw_width, raw_height)
    timing_start, timing_length = 0x0010, 0x0100
    struct.pack_into(">HHHHH", block, 48, timing_start, timing_start + timing_length,
                     timing_start + timing_length, timing_start + timing_length, m["exposure"])

    # Clock voltages: eight rails as big-endian millivolts.
    struct.pack_into(">8H", block, 64, 12000, 11500, 9000, 3500, 5000, 5000, 2500, 2500)
    # Offset DACs: one 16-bit word per output.
    struct.pack_into(">4H", block, 96, 2048, 2060, 2036, 2052)
    struct.pack_into(">H", block, 130, SETPOINT_COUNTS)

    struct.pack_into("<HHHH", block, 246, m["width"], m["height"], m["overscan"], m["overscan"])

    recon = 256
    for index, _, _ in m["quadrants"]:
        block[recon + index] = 1
    struct.pack_into("<HHHH", block, recon + 8, 1 if m["from_block"] else 0,
                     columns, rows, fixed)
    for position, (index, column_stride, row_stride) in enumerate(m["quadrants"]):
        record = recon + 16 + 32 * index
        # Outputs are interleaved column by column in the raw frame, after the
        # fixed pre-scan columns of every output.
        first_column = fixed * count + position
        struct.pack_into("<HHHH", block, record, first_column, 0, count, 1)
        struct.pack_into("<HH", block, record + 16, 0, 0)
        struct.pack_into("<HH", block, record + 24, sign_magnitude(column_stride),
                         sign_magnitude(row_stride))
    return bytes(block)


def main():
    os.makedirs(os.path.join(HERE, "epal"), exist_ok=True)
    for number, m in enumerate(MODES):
        path = os.path.join(HERE, "epal", "mode%d.hex" % number)
        tmp = path + ".tmp"
        with open(tmp, "wb") as f:
            f.write(epal_block(m))
            f.flush()
            os.fsync(f.fileno())
        os.replace(tmp, path)


if __name__ == "__main__":
    main()
