#!/usr/bin/env python3
"""Writes the control-answer fuzzer's seeds: tapes that bring the camera up
with well-formed answers and then run every operation, and tapes whose
answers come short, empty or refused, or whose descriptors are cut.

    python3 fuzz/control/make_seeds.py     # writes fuzz/control/seeds/*
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, ".."))
from seedfiles import write_seeds  # noqa: E402
MODE_FILE = os.path.join(HERE, "..", "..", "config", "epal", "mode1.hex")

FULL, REFUSE = 0xFE, 0xFF
STATUS, STATE, TEMPERATURE, RECORD, SETPOINT, STAGED, OFFSETS, DOWNLOAD, \
    CAMERA_TYPE, EXPOSURE, VERSION, FRAME_SIZE = range(12)


def full(data):
    assert len(data) == 64
    return bytes([FULL]) + data


def short(data):
    return bytes([len(data)]) + data


def op(code, *arguments):
    return bytes([code]) + bytes(arguments)


with open(MODE_FILE, "rb") as f:
    FPGA = f.read()[:64]
STATUS_RECORD = bytes(10) + b"\x01" + bytes(53)
TEMPERATURES = struct.pack(">4H", 29815, 25315, 1200, 1100) + bytes(56)
CALIBRATION = struct.pack(">HH", 0, 25315) + bytes(60)
PRODUCT_INFO = b"VELA2 SIM_5253\x00\x00" + bytes(48)
FIRMWARE = b"01.02.03SIMULATED FIRMWR" + bytes(40)

# Bring-up reads the FPGA block back three times: after the upload, before
# the geometry is written into it and after.
BRING_UP = full(FPGA) * 3

EVERY_OPERATION = (
    op(STATUS, 32) + full(STATUS_RECORD)
    + op(STATE) + full(STATUS_RECORD)
    + op(TEMPERATURE, 1) + full(TEMPERATURES)
    + op(RECORD, 64) + full(TEMPERATURES)
    + op(SETPOINT, 0x62, 0xE3) + full(CALIBRATION)
    + op(STAGED | 0x10, 64) + full(CALIBRATION)
    + op(STAGED | 0x20, 16) + full(PRODUCT_INFO)
    + op(OFFSETS, 32) + full(FPGA)
    + op(DOWNLOAD) + full(FPGA) + full(FPGA) + full(CALIBRATION)
    + op(CAMERA_TYPE) + full(PRODUCT_INFO)
    + op(EXPOSURE | 0x10) + full(FPGA) + full(FPGA)
    + op(VERSION) + full(FIRMWARE)
    + op(FRAME_SIZE, 40, 20, 4, 4) + full(FPGA) + full(FPGA)
)

SEEDS = {
    "every_operation": b"\x00" + BRING_UP + EVERY_OPERATION,
    "short_answers": b"\x00" + BRING_UP
    + op(STATUS, 64) + short(STATUS_RECORD[:60])
    + op(TEMPERATURE, 0) + short(b"") + short(TEMPERATURES[:2])
    + op(STAGED, 0x80) + short(FPGA[:63])
    + op(VERSION) + short(FIRMWARE[:8]),
    "refused_answers": b"\x00" + BRING_UP
    + op(RECORD, 10) + bytes([REFUSE])
    + op(DOWNLOAD) + bytes([REFUSE]) + full(FPGA) + bytes([REFUSE])
    + op(CAMERA_TYPE) + bytes([REFUSE]),
    "bring_up_fails": b"\x00" + short(FPGA[:32]) + op(STATUS, 8) + full(STATUS_RECORD),
    "cut_descriptors": b"\x03" + bytes([8]) + bytes([18, 1, 0, 2, 0xFF, 0, 0, 64])
    + bytes([9]) + bytes([9, 2, 39, 0, 1, 1, 0, 0x80, 50]) + op(STATE) + full(STATUS_RECORD),
}


def main():
    write_seeds(__file__, SEEDS)


if __name__ == "__main__":
    main()
