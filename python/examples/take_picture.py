#!/usr/bin/python3
"""Takes one picture and writes it as FITS: take_picture.py MODES.INI OUT.fits [--simulated]"""

import sys

import vela2

modes, out = sys.argv[1], sys.argv[2]
with vela2.Camera(mode=0, mode_file=modes, simulated="--simulated" in sys.argv) as camera:
    print(f"sensor {camera.temperature:.1f} C, heat sink {camera.heat_sink_temperature:.1f} C")
    picture = camera.take_picture(exposure_ms=100)
    picture.save_fits(out)
    print(f"{out}: {picture.mosaic().shape[1]} x {picture.mosaic().shape[0]} pixels")
