#!/usr/bin/python3
"""A 32 MiB simulated picture through vela2.Camera.take_picture beside the
same library calls made directly, alternately in one process; prints the
median of each and their ratio (what the Python layer adds).

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


def direct(lib, width, height, buffers):
    lib.LD_SetExposureTime(0, 0, 0)
    lib.LD_StartPicture(*[b.ctypes.data for b in buffers], width, height, None, None, None, None,
                        0, 0)
    lib.LD_WaitForCapture(0)


with vela2.Camera(mode=0, mode_file=sys.argv[1], simulated=True) as camera:
    lib = vela2.library()
    height, width = camera.take_picture(0).quadrants[0].shape
    buffers = [numpy.empty((height, width), dtype=numpy.uint16) for _ in range(4)]
    times = {"python": [], "direct": []}
    for _ in range(ROUNDS):
        start = time.perf_counter()
        camera.take_picture(0)
        times["python"].append(time.perf_counter() - start)
        start = time.perf_counter()
        direct(lib, width, height, buffers)
        times["direct"].append(time.perf_counter() - start)
    python, plain = (statistics.median(times[k]) for k in ("python", "direct"))
    print(f"{4 * width * height * 2 / 2**20:.0f} MiB picture: take_picture {python * 1e3:.1f} ms, "
          f"direct calls {plain * 1e3:.1f} ms, ratio {python / plain:.3f}")
