"""The camera as a context manager, and its pictures as NumPy arrays."""

import ctypes
import datetime
import os
import threading
import time

import numpy

from ._library import library
from .errors import InitializationError, UsbError, Vela2Error, error_for, status_code

_BLOCK_BYTES = 64
_IMAGE_BYTES = 192  # the three upload blocks: FPGA, clock voltages and offsets, calibration
_MAX_EXPOSURE_MS = 65535  # the camera keeps 16-bit milliseconds
_KELVIN_PER_COUNT = 0.01
_KELVIN_OFFSET = 273.15
_SETPOINT_BYTE = 2


def _address(array):
    return array.ctypes.data if array is not None else None


def _bytes_address(buffer):
    return ctypes.addressof((ctypes.c_uint8 * len(buffer)).from_buffer(buffer))


class Picture:
    """One picture: a uint16 array per quadrant (height x width), the overscan
    arrays (or none), and what was known when it was taken."""

    def __init__(self, quadrants, overscans, exposure_ms, start, temperature, mode, trigger="software",
                 setpoint=None, test_pattern=0):
        self.quadrants = quadrants
        self.overscans = overscans
        self.exposure_ms = exposure_ms
        self.start = start
        self.temperature = temperature
        self.mode = mode
        self.trigger = trigger
        self.setpoint = setpoint
        self.test_pattern = test_pattern

    def mosaic(self):
        """All quadrants in one array, in quadrant order left to right, then
        top to bottom: two columns (one row for two quadrants), as vela2cam
        --mosaic lays them out."""
        count = len(self.quadrants)
        height, width = self.quadrants[0].shape
        columns = 1 if count <= 1 else 2
        rows = (count + columns - 1) // columns
        mosaic = numpy.zeros((rows * height, columns * width), dtype=numpy.uint16)
        for index, quadrant in enumerate(self.quadrants):
            top, left = (index // columns) * height, (index % columns) * width
            mosaic[top:top + height, left:left + width] = quadrant
        return mosaic

    def save_fits(self, path):
        """The mosaic as a FITS file with vela2cam's keywords (needs astropy)."""
        from astropy.io import fits  # optional: only this method needs it

        from ._library import library

        mosaic = self.mosaic()
        header = fits.Header()
        header["INSTRUME"] = ("Vela2 USB CCD", "instrument")
        header["IMAGETYP"] = ("LIGHT", "image type")
        header["EXPTIME"] = (self.exposure_ms / 1000.0, "[s] exposure time")
        header["DATE-OBS"] = (self.start.strftime("%Y-%m-%dT%H:%M:%S.%f")[:-3],
                              "UTC start of the exposure")
        if self.temperature is not None:
            header["CCD-TEMP"] = (self.temperature, "[C] sensor, before exposure")
        if self.setpoint is not None:
            header["SET-TEMP"] = (self.setpoint, "[C] cooler setpoint")
        header["QUADRANT"] = (0, "0: mosaic of all quadrants")
        header["TRIGGER"] = (self.trigger.upper(), "trigger mode")
        header["READMODE"] = (self.mode, "readout mode number")
        header["TESTPAT"] = (self.test_pattern, "sensor test pattern, 0 none")
        header["LIBVER"] = (_library_version(library()), "camera library version")
        if mosaic.size:
            header["DATAMIN"] = (int(mosaic.min()), "lowest pixel value")
            header["DATAMAX"] = (int(mosaic.max()), "highest pixel value")
        fits.PrimaryHDU(mosaic, header).writeto(path, overwrite=True)


def _library_version(lib):
    text = ctypes.create_string_buffer(4096)
    lib.LD_GetVersion(ctypes.addressof(text), len(text))
    for line in text.value.decode("latin-1").splitlines():
        name, _, value = line.partition("=")
        if name.strip() == "ProductVersion":
            return value.strip()
    return ""


class Camera:
    """The camera, initialized for one readout mode while the object is open.

    simulated=True selects the simulated camera device (VELA2_USB_BACKEND=sim)
    for as long as the camera is open, and gives it the mode file, whose
    geometry its simulated sky is read out through (VELA2_SIM_MODE_FILE)."""

    def __init__(self, mode=0, mode_file=None, simulated=False, registry=False):
        self.mode = mode
        self._mode_file = mode_file
        self._simulated = simulated
        self._registry = registry
        self._lib = library()
        self._lock = threading.Lock()  # one picture at a time from this object
        self._saved_environment = {}
        self._open = False
        self.open()

    # --- lifecycle -----------------------------------------------------------
    def open(self):
        if self._open:
            return
        if self._simulated:
            self._set_environment("VELA2_USB_BACKEND", "sim")
            if self._mode_file and "VELA2_SIM_MODE_FILE" not in os.environ:
                self._set_environment("VELA2_SIM_MODE_FILE", os.fspath(self._mode_file))
        mode_file = os.fsencode(self._mode_file) if self._mode_file else None
        result = self._lib.LD_Initialize(self.mode, 0, mode_file, 1 if self._registry else 0)
        self._open = True
        if result != 0:
            reason = self._lib.LD_GetStatus()
            self.close()
            code = reason if result == -4 and reason < -1 else result
            raise InitializationError(code, f"cannot initialize mode {self.mode}")

    def close(self):
        if not self._open:
            return
        self._lib.Close()
        self._open = False
        for name, value in self._saved_environment.items():
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = value
        self._saved_environment = {}

    def _set_environment(self, name, value):
        self._saved_environment.setdefault(name, os.environ.get(name))
        os.environ[name] = value

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.close()
        return False

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass

    # --- pictures --------------------------------------------------------------
    def _size(self, getter):
        value = ctypes.c_int32(0)
        return value.value if getter(ctypes.byref(value)) == 0 and value.value > 0 else 0

    def take_picture(self, exposure_ms, trigger="software", overscan=False, timeout=None,
                     into=None):
        """Exposes for exposure_ms and returns the Picture. timeout: seconds to
        wait for it beyond the exposure (None: the library's own timeout).
        into: an earlier Picture of this mode whose arrays are filled again
        instead of new ones (fresh memory costs a picture a quarter more)."""
        if not 0 <= exposure_ms <= _MAX_EXPOSURE_MS:
            raise ValueError(f"exposure_ms must be 0 to {_MAX_EXPOSURE_MS}: the camera keeps "
                             "16-bit milliseconds")
        if trigger not in ("software", "hardware"):
            raise ValueError('trigger is "software" or "hardware"')
        lib = self._lib
        with self._lock:
            lib.SetHardwareTrigger(1 if trigger == "hardware" else 0)
            self._check(lib.LD_SetExposureTime(int(exposure_ms), 0, 0), "setting the exposure")
            width = self._size(lib.LD_GetQuadrantWidth)
            height = self._size(lib.LD_GetQuadrantHeight)
            over_width = self._size(lib.LD_GetOverscanWidth) if overscan else 0
            over_height = self._size(lib.LD_GetOverscanHeight) if overscan else 0
            if over_width == 0 or over_height == 0:
                over_width = over_height = 0
            quadrants = self._arrays(into and into.quadrants, height, width)
            overscans = (self._arrays(into and into.overscans, over_height, over_width)
                         if over_width else None)
            temperature = self._reading(lib.LD_GetTemperature)
            pattern = ctypes.c_uint32(0)
            lib.LD_GetTestPatternMode(ctypes.byref(pattern))
            start = datetime.datetime.now(datetime.timezone.utc)
            arguments = [_address(q) for q in quadrants] + [width, height]
            arguments += [_address(o) for o in overscans] if overscans else [None] * 4
            arguments += [over_width, over_height]
            started = lib.LD_StartPicture(*arguments)
            if started != 0:
                code = lib.LD_GetStatus() if started == status_code("ERROR_TRIGGER_TIMEOUT") else started
                raise error_for(code, "the picture did not start")
            if not self._wait(timeout, exposure_ms):
                lib.LD_Reset(1)  # the picture is abandoned: the camera stops reading it out
                raise error_for(status_code("ERROR_CAMERA_TIMEOUT"),
                                "the picture did not end in time")
            status = lib.LD_GetStatus()
            if status != 0:
                raise error_for(status, "the picture failed")
        count = max(1, min(4, lib.GetNumberOfQuadrants()))
        return Picture(quadrants[:count], overscans[:count] if overscans else None, exposure_ms,
                       start, temperature, self.mode, trigger, test_pattern=pattern.value & 0xFF)

    def _wait(self, timeout, exposure_ms):
        """True once the picture has ended. Without a timeout the library's own
        wait decides; with one, it is polled until exposure plus timeout.
        The completion event is shared: an abandoned picture's late end can
        set it while this one still runs, which its status, still busy, shows."""
        lib = self._lib
        complete, busy = status_code("RECONSTRUCTION_COMPLETED"), status_code("CAMERA_BUSY")
        if timeout is None:
            limit = ctypes.c_uint32(0)
            lib.LD_GetTimeout(ctypes.byref(limit))
            timeout = limit.value / 1000.0 + 1.0
            if lib.LD_WaitForCapture(0) != complete:
                return False
        deadline = time.monotonic() + exposure_ms / 1000.0 + timeout
        pause = 0.0005
        while lib.LD_IsCaptureComplete() != complete or lib.LD_GetStatus() == busy:
            if time.monotonic() > deadline:
                return False
            time.sleep(pause)
            pause = min(pause * 2, 0.01)
        return True

    @staticmethod
    def _arrays(earlier, height, width):
        """Four arrays of the size: the earlier ones when they all fit exactly
        (the library writes every pixel of all four), else new ones."""
        if (earlier and len(earlier) == 4 and
                all(a.shape == (height, width) and a.dtype == numpy.uint16 and
                    a.flags.c_contiguous and a.flags.writeable for a in earlier)):
            return list(earlier)
        return [numpy.empty((height, width), dtype=numpy.uint16) for _ in range(4)]

    # --- readings and settings ----------------------------------------------------
    def _check(self, status, what):
        if status != 0:
            raise error_for(status, what)

    def _reading(self, function):
        value = ctypes.c_double(0.0)
        status = function(ctypes.byref(value))
        if status != 0:
            raise error_for(status, "the camera could not be read")
        return value.value

    @property
    def temperature(self):
        """The sensor temperature, degrees Celsius."""
        return self._reading(self._lib.LD_GetTemperature)

    @property
    def heat_sink_temperature(self):
        return self._reading(self._lib.LD_GetHeatSinkTemperature)

    @property
    def tec_currents(self):
        """The top and bottom cooler currents, amperes."""
        return (self._reading(self._lib.LD_GetTopTecCurrent),
                self._reading(self._lib.LD_GetBottomTecCurrent))

    @property
    def setpoint(self):
        """The cooler's setpoint, degrees Celsius, as the calibration block holds it."""
        block = self.download_block(self._lib.ReadCalibration)
        count = block[_SETPOINT_BYTE] << 8 | block[_SETPOINT_BYTE + 1]
        return count * _KELVIN_PER_COUNT - _KELVIN_OFFSET

    @setpoint.setter
    def setpoint(self, celsius):
        count = round((celsius + _KELVIN_OFFSET) / _KELVIN_PER_COUNT)
        if not 0 <= count <= 0xFFFF:
            raise ValueError("setpoint out of the camera's range")
        self._check(self._lib.LD_SetTemperatureSetpoint(count), "setting the setpoint")

    @property
    def version(self):
        text = ctypes.create_string_buffer(4096)
        self._check(self._lib.LD_GetVersion(ctypes.addressof(text), len(text)),
                    "reading the version")
        return text.value.decode("latin-1")

    @property
    def status(self):
        return self._lib.LD_GetStatus()

    # --- memory blocks and vendor requests ------------------------------------------
    def _flag(self, done, what):
        if not done:
            raise UsbError(self._lib.LD_GetStatus() or -2, what)

    def download_block(self, reader):
        block = bytearray(_BLOCK_BYTES)
        self._flag(reader(_bytes_address(block), len(block)), "reading a block")
        return block

    def download(self):
        """The 192-byte block image the camera holds."""
        image = bytearray(_IMAGE_BYTES)
        self._flag(self._lib.Download(_bytes_address(image), len(image)), "downloading")
        return bytes(image)

    def upload(self, image):
        """Sends a 192-byte block image."""
        image = bytearray(image)
        if len(image) < _IMAGE_BYTES:
            raise ValueError(f"the block image has {_IMAGE_BYTES} bytes")
        self._flag(self._lib.Upload(_bytes_address(image), len(image)), "uploading")

    def vendor_read(self, request, value=0, index=0, length=_BLOCK_BYTES):
        buffer = bytearray(max(1, length))
        done = self._lib.ReadVendorRequest(hex(request).encode(), hex(value).encode(),
                                           hex(index).encode(), _bytes_address(buffer), length)
        self._flag(done, "vendor read")
        return bytes(buffer[:length])

    def vendor_write(self, request, data, value=0, index=0):
        buffer = bytearray(data) or bytearray(1)
        done = self._lib.WriteVendorRequest(hex(request).encode(), hex(value).encode(),
                                            hex(index).encode(), _bytes_address(buffer),
                                            len(data))
        self._flag(done, "vendor write")
