"""Finds and loads the camera library and declares every export on it."""

import ctypes
import os
import struct
import sys
import threading

from ._exports import EXPORTS

# Buffers go as plain addresses: NumPy arrays and bytearrays hand theirs over
# without a copy.
_C_TYPES = {
    "void": None,
    "int32_t": ctypes.c_int32,
    "uint32_t": ctypes.c_uint32,
    "uint8_t": ctypes.c_uint8,
    "intptr_t": ctypes.c_ssize_t,
    "const char*": ctypes.c_char_p,
    "char*": ctypes.c_void_p,
    "uint16_t*": ctypes.c_void_p,
    "uint8_t*": ctypes.c_void_p,
    "const uint8_t*": ctypes.c_void_p,
    "int32_t*": ctypes.POINTER(ctypes.c_int32),
    "uint32_t*": ctypes.POINTER(ctypes.c_uint32),
    "double*": ctypes.POINTER(ctypes.c_double),
    "LD_NamedEvent*": ctypes.c_void_p,
}

_lock = threading.Lock()
_library = None


def _candidates():
    named = os.environ.get("VELA2_LIBRARY")
    if named:
        return [named]
    if sys.platform == "win32":
        return ["Vela2UsbCameraDll.dll"]
    return ["libVela2UsbCameraDll.so.4", "libVela2UsbCameraDll.so"]


def _open(path):
    # The 32-bit DLL's exports are __stdcall; everywhere else there is one
    # calling convention.
    if sys.platform == "win32" and struct.calcsize("P") == 4:
        return ctypes.WinDLL(path)
    return ctypes.CDLL(path)


# Windows processes reach the named events through the system instead.
_POSIX_ONLY = {"LD_OpenNamedEvent", "LD_WaitNamedEvent", "LD_IsNamedEventSet", "LD_CloseNamedEvent"}


def _declare(library):
    for name, (result, arguments) in EXPORTS.items():
        if sys.platform == "win32" and name in _POSIX_ONLY:
            continue
        function = getattr(library, name)
        function.restype = _C_TYPES[result]
        function.argtypes = [_C_TYPES[argument] for argument in arguments]
    return library


def library():
    """The loaded library, every export declared. OSError when none loads."""
    global _library
    with _lock:
        if _library is None:
            errors = []
            for path in _candidates():
                try:
                    _library = _declare(_open(path))
                    break
                except OSError as error:
                    errors.append(f"{path}: {error}")
            else:
                raise OSError(
                    "cannot load the camera library (set VELA2_LIBRARY to its file): "
                    + "; ".join(errors))
        return _library
