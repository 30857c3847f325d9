#!/usr/bin/python3
"""A 32 MiB simulated picture through vela2.Camera.take_picture beside the
same library calls made directly, alternately in one process; prints the
median of each and their ratios (what the Python layer adds). The direct
calls run twice: into buffers allocated for each picture, as a program that
keeps its pictures (and take_picture) must, and into buffers used again.

    VELA2_LIBRARY=build/linux/src/api/libVela2UsbCameraDll.so \\
        bench/python_picture.py build/linux/tests/config/modes.ini"""

import os
import statistics
import sys
import time

import numpy

os.environ.setdefault("VELA2_SIM_TIME_SCALE", "0")
import vela2  # noqa: E402  (after the environment it reads)

ROUNDS = 15


def direct(lib, width, height, buffers=None):
    if buffers is None:
        buffers = [numpy.empty((height, width), dtype=numpy.uint16) for _ in range(4)]
    lib.LD_SetExposureTime(0, 0, 0)
    lib.LD_StartPicture(*[b.ctypes.data for b in buffers], width, height, None, None, None, None,
                        0, 0)
    lib.LD_WaitForCapture(0)


with vela2.Camera(mode=0, mode_file=sys.argv[1], simulated=True) as camera:
    lib = vela2.library()
    height, width = camera.take_picture(0).quadrants[0].shape
    buffers = [numpy.empty((height, width), dtype=numpy.uint16) for _ in range(4)]
    earlier = camera.take_picture(0)
    runs = {
        "take_picture": lambda: camera.take_picture(0),
        "take_picture into": lambda: camera.take_picture(0, into=earlier),
        "direct, new buffers": lambda: direct(lib, width, height),
        "direct, same buffers": lambda: direct(lib, width, height, buffers),
    }
    times = {name: [] for name in runs}
    for _ in range(ROUNDS):
        for name, run in runs.items():
            start = time.perf_counter()
            run()
            times[name].append(time.perf_counter() - start)
    medians = {name: statistics.median(values) for name, values in times.items()}
    print(f"{4 * width * height * 2 / 2**20:.0f} MiB picture, medians of {ROUNDS}: " +
          ", ".join(f"{name} {value * 1e3:.1f} ms" for name, value in medians.items()))
    print("take_picture / direct, new buffers: "
          f"{medians['take_picture'] / medians['direct, new buffers']:.3f}")
    print("take_picture into / direct, same buffers: "
          f"{medians['take_picture into'] / medians['direct, same buffers']:.3f}")
