"""The library's status codes as exceptions."""

import ctypes
import functools

from ._library import library

_LOWEST, _HIGHEST = -64, 64  # the range the library's codes lie in, with room


def status_name(code):
    """The library's name for a status code ("" for a code it does not name)."""
    text = ctypes.create_string_buffer(256)
    library().LD_GetError(code, ctypes.addressof(text))
    return text.value.decode("ascii", "replace")


@functools.lru_cache(maxsize=None)
def _codes_by_name():
    named = {}
    for code in range(_LOWEST, _HIGHEST + 1):
        name = status_name(code)
        if name:
            named[name] = code
    return named


def status_code(name):
    """The code the library gives a status name, from the library's own table,
    so that the package keeps no copy of the numbers."""
    return _codes_by_name()[name]


class Vela2Error(Exception):
    """A call the camera refused: `code` is the status, `name` its name."""

    def __init__(self, code, what):
        self.code = code
        self.name = status_name(code) or f"status {code}"
        super().__init__(f"{what}: {self.name} ({code})")


class InitializationError(Vela2Error):
    """The camera could not be brought up for the mode."""


class CaptureTimeoutError(Vela2Error):
    """A picture did not end in time."""


class UsbError(Vela2Error):
    """The camera did not answer on the bus, or was not found."""


_USB = {"INVALID_USB_DEVICE", "ERROR_BULK_READ", "ERROR_BULK_WRITE", "ERROR_USB_CONTROL_ENDPOINT",
        "ERROR_CONTROL_ENDPOINT_READ", "ERROR_CONTROL_ENDPOINT_WRITE",
        "ERROR_CAPTURE_BULK_ENDPOINT", "ERROR_GET_CAMERA_STATE",
        "ERROR_TEMP_CONTROL_ENDPOINT_READ"}
_TIMEOUT = {"ERROR_TRIGGER_TIMEOUT", "IDLE_STATE_TIMEOUT", "ERROR_CAMERA_TIMEOUT"}
_INITIALIZATION = {"ERROR_CAMERA_NOT_INITIALIZED", "ERROR_INI_FILENAME", "ERROR_HEX_FILENAME",
                   "ERROR_REGISTRY_NAME", "ERROR_REGISTRY_VALUE", "CAMERA_FILE_ERROR"}


def error_for(code, what):
    """The exception of the family a status code belongs to."""
    name = status_name(code)
    if name in _USB:
        return UsbError(code, what)
    if name in _TIMEOUT:
        return CaptureTimeoutError(code, what)
    if name in _INITIALIZATION:
        return InitializationError(code, what)
    return Vela2Error(code, what)
