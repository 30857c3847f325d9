"""The library's status codes as exceptions."""

import ctypes

from ._library import library


def status_name(code):
    """The library's name for a status code ("" for a code it does not name)."""
    text = ctypes.create_string_buffer(256)
    library().LD_GetError(code, ctypes.addressof(text))
    return text.value.decode("ascii", "replace")


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


_USB = {-33, -35, -36, -42, -43, -44, -46, -48, -49}
_TIMEOUT = {-50, -31, 7}
_INITIALIZATION = {-4, -21, -22, -37, -40, 18}


def error_for(code, what):
    """The exception of the family a status code belongs to."""
    if code in _USB:
        return UsbError(code, what)
    if code in _TIMEOUT:
        return CaptureTimeoutError(code, what)
    if code in _INITIALIZATION:
        return InitializationError(code, what)
    return Vela2Error(code, what)
