"""Finds and loads libezcam and declares the C calls the package uses."""

import ctypes
import os
from pathlib import Path

c_int, c_float, c_bool, c_char_p, c_void_p = (ctypes.c_int, ctypes.c_float, ctypes.c_bool,
                                              ctypes.c_char_p, ctypes.c_void_p)
c_int_p, c_float_p, c_bool_p = (ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_float),
                                ctypes.POINTER(ctypes.c_bool))
HotPlugHandler = ctypes.CFUNCTYPE(None, c_void_p, c_char_p, c_int)
LogHandler = ctypes.CFUNCTYPE(None, c_void_p, c_int, c_char_p)

SONAME = "libezcam.so.0"


class ImageRecord(ctypes.Structure):
    """The image record that heads every frame buffer (ezcam.h's _ezImage)."""
    _fields_ = [
        ("signature", ctypes.c_char * 4), ("width", ctypes.c_uint16), ("height", ctypes.c_uint16),
        ("depth", ctypes.c_uint8), ("channels", ctypes.c_uint8), ("bayer", ctypes.c_uint8),
        ("resolution", ctypes.c_uint8), ("header_size", ctypes.c_uint16),
        ("stride", ctypes.c_uint16), ("data", c_void_p), ("extra", c_void_p),
        ("decoded", ctypes.c_uint8), ("pixel_clock", ctypes.c_uint8),
        ("analog_gain", ctypes.c_uint16), ("black_level", ctypes.c_uint16),
        ("idproduct", ctypes.c_uint16), ("idvendor", ctypes.c_uint16),
        ("bcddevice", ctypes.c_uint16), ("reserved", ctypes.c_uint8 * 6),
        ("channel_mean", ctypes.c_uint16 * 3),
    ]


assert ctypes.sizeof(ImageRecord) == 56

# name: (result, argument types); the camera name, where a call takes one,
# is the last c_char_p.
_CALLS = {
    "InitDevice": (c_int, [HotPlugHandler, c_void_p, c_char_p]),
    "ExitDevice": (None, []),
    "PollDevice": (c_int, [c_int]),
    "DeviceCount": (c_int, []),
    "DeviceName": (c_char_p, [c_int]),
    "ResumeDevice": (c_int, [c_char_p]),
    "SuspendDevice": (c_int, [c_char_p]),
    "StatusName": (c_char_p, [c_int]),
    "SetLogHandler": (None, [LogHandler, c_void_p]),
    "RecvMemSize": (c_int, [c_char_p]),
    "GetImageChannles": (c_int, [c_char_p]),
    "GetRawBayernPattern": (c_int, [c_char_p]),
    "GetBlacklevel": (c_int, [c_char_p]),
    "DeviceVendor": (c_int, [c_char_p]),
    "DeviceProduct": (c_int, [c_char_p]),
    "DeviceBcd": (c_int, [c_char_p]),
    "SetResolution": (c_int, [c_int, c_char_p]),
    "GetResolution": (c_int, [c_char_p]),
    "GetResolutionCount": (c_int, [c_char_p]),
    "GetResWidth": (c_int, [c_int, c_char_p]),
    "GetResHeight": (c_int, [c_int, c_char_p]),
    "GetRawDepth": (c_int, [c_char_p]),
    "SetRawDepth": (c_int, [c_int, c_char_p]),
    "GetRawData": (c_int, [c_void_p, c_int, c_char_p]),
    "DecodeRaw2Image": (c_int, [c_void_p, c_void_p, c_char_p]),
    "GetAnaloggainRange": (c_int, [c_int_p, c_int_p, c_int_p, c_char_p]),
    "GetAnaloggain": (c_int, [c_char_p]),
    "SetAnaloggain": (c_int, [c_int, c_char_p]),
    "GetExposureRange": (c_int, [c_float_p, c_float_p, c_float_p, c_char_p]),
    "GetExposure": (c_float, [c_char_p]),
    "SetExposure": (c_int, [c_float, c_char_p]),
    "SetRoi": (c_int, [c_int, c_int, c_int, c_int, c_char_p]),
    "GetRoi": (c_int, [c_int_p, c_int_p, c_int_p, c_int_p, c_char_p]),
    "SetRoiState": (c_int, [c_bool, c_char_p]),
    "GetRoiState": (c_int, [c_bool_p, c_char_p]),
    "SaveFile": (c_int, [c_void_p, c_char_p, c_int, c_char_p]),
    "SimPlugCamera": (c_int, [c_int, c_int, c_int]),
    "SimUnplugCamera": (c_int, [c_int]),
}


def _candidates():
    """Where the library may be, best first."""
    chosen = os.environ.get("EZCAM_LIBRARY")
    if chosen:
        return [chosen]  # asked for explicitly: nothing else
    here = Path(__file__).resolve().parent
    found = []
    try:  # written when the package is installed beside the library
        from . import _installed
        found.append(str((here / _installed.LIBRARY).resolve()))
    except ImportError:
        pass
    # A source checkout with its build beside it.
    found.append(str(here.parent.parent / "build" / "src" / SONAME))
    found.append(SONAME)  # the system's library path
    return found


def load():
    tried = []
    for candidate in _candidates():
        if os.sep in candidate and not os.path.exists(candidate):
            tried.append(candidate + " (missing)")
            continue
        try:
            lib = ctypes.CDLL(candidate)
        except OSError as error:
            tried.append(f"{candidate} ({error})")
            continue
        for name, (result, arguments) in _CALLS.items():
            call = getattr(lib, name)
            call.restype = result
            call.argtypes = arguments
        return lib
    raise ImportError("libezcam not found; set EZCAM_LIBRARY to its path. Tried: " +
                      "; ".join(tried))
