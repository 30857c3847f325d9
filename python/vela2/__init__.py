"""The Vela2 USB camera from Python: pictures as NumPy arrays."""

from ._library import library
from .camera import Camera, Picture
from .errors import (CaptureTimeoutError, InitializationError, UsbError, Vela2Error,
                     status_code, status_name)

__all__ = ["Camera", "Picture", "Vela2Error", "InitializationError", "CaptureTimeoutError",
           "UsbError", "status_code", "status_name", "library"]
