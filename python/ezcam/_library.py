"""Finds and loads libezcam and declares the C calls the package uses."""

import ctypes
import ctypes.util
import os
import shutil
import subprocess
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


class FrameInfoRecord(ctypes.Structure):
    """What the frame reader knew of one frame (ezcam.h's EzFrameInfo)."""
    _fields_ = [
        ("frame", ctypes.c_uint64), ("frames_lost", ctypes.c_uint64),
        ("mode_drops", ctypes.c_uint64), ("monotonic_ns", ctypes.c_int64),
        ("utc_ns", ctypes.c_int64), ("exposure_ms", ctypes.c_float),
        ("temperature", ctypes.c_float), ("has_temperature", ctypes.c_int32),
        ("analog_gain", ctypes.c_int32), ("black_level", ctypes.c_int32),
        ("pixel_clock", ctypes.c_int32), ("resolution", ctypes.c_int32),
        ("width", ctypes.c_int32), ("height", ctypes.c_int32), ("roi_x", ctypes.c_int32),
        ("roi_y", ctypes.c_int32), ("x_binning", ctypes.c_int32), ("y_binning", ctypes.c_int32),
        ("depth", ctypes.c_int32), ("bayer", ctypes.c_int32),
    ]


assert ctypes.sizeof(FrameInfoRecord) == 104

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
    "GetRawDataInfo": (c_int, [c_void_p, c_int, ctypes.POINTER(FrameInfoRecord), c_char_p]),
    "GetResItemName": (c_char_p, [c_int, c_char_p]),
    "GetBlacklevelRange": (c_int, [c_int_p, c_int_p, c_int_p, c_char_p]),
    "SetBlacklevel": (c_int, [c_int, c_char_p]),
    "BayerPatternName": (c_char_p, [c_int]),
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


def _from_pkg_config():
    """The library in the libdir pkg-config names for ezcam; None without
    pkg-config or without an installed ezcam.pc."""
    tool = shutil.which("pkg-config")
    if not tool:
        return None
    try:
        run = subprocess.run([tool, "--variable=libdir", "ezcam"], capture_output=True,
                             text=True, timeout=10, check=False)
    except (OSError, subprocess.SubprocessError):
        return None
    libdir = run.stdout.strip()
    return str(Path(libdir) / SONAME) if run.returncode == 0 and libdir else None


def _candidates():
    """Where the library may be, best first; the later places are looked up
    only when the earlier ones fail."""
    chosen = os.environ.get("EZCAM_LIBRARY")
    if chosen:
        yield chosen  # asked for explicitly: nothing else
        return
    here = Path(__file__).resolve().parent
    try:  # written when CMake installs the package beside the library
        from . import _installed
        yield str((here / _installed.LIBRARY).resolve())
    except ImportError:
        pass
    # A source checkout with its build beside it.
    checkout_build = here.parent.parent / "build" / "src" / SONAME
    if checkout_build.exists():
        yield str(checkout_build)
    # The loader's path (ld.so.cache, LD_LIBRARY_PATH) before pkg-config: it
    # is what a C program linked against the library would load.
    yield SONAME
    by_loader = ctypes.util.find_library("ezcam")
    if by_loader and by_loader != SONAME:
        yield by_loader
    by_pkg_config = _from_pkg_config()
    if by_pkg_config:
        yield by_pkg_config


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
    raise ImportError("libezcam not found: install it where the loader or pkg-config finds "
                      "it, or set EZCAM_LIBRARY to its path. Tried: " +
                      "; ".join(tried))
