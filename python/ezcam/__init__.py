"""ezcam: the ezcam camera SDK from Python, over libezcam (ctypes).

    import ezcam

    print(ezcam.cameras())              # names of the connected cameras
    with ezcam.open() as cam:           # the first camera, or ezcam.open("QC500.0")
        cam.exposure = 20.0             # milliseconds
        cam.resolution = (1272, 952)
        raw = cam.grab()                # raw mosaic; raw.meta: its image record
        rgb = cam.image()               # finished image, rows x columns x 3
        cam.save("shot.png")

Calls that fail raise ezcam.Error, whose `name` is the status's name (such as
"EZ_ERANGE"). Hot-plug callbacks registered with on_arrival and on_removal
run inside poll() (and cameras(), open()) on the calling thread. The
library's log messages go to the "ezcam" logger of the logging module.
"""

import atexit
import ctypes
import logging
import os
import threading

import numpy as np

from . import _library
from ._library import ImageRecord

__all__ = ["Camera", "Error", "Frame", "cameras", "on_arrival", "on_removal", "open", "poll",
           "start"]

_lib = _library.load()

EZ_OK, EZ_ENOCAM, EZ_ERANGE, EZ_EIO, EZ_CAPTURE = 0, -1, -2, -3, 1
_ARRIVED = 0  # EZ_DEVICE_ARRIVED
_STATISTICS_BYTES = 4 * 258 * 4  # behind a finished image's pixels (src/processing/image_record.h)
_FRAME_ATTEMPTS = 20
# Still formats by file extension (SaveFile's format bits).
_FORMATS = {".raw": 1, ".tif": 2, ".png": 4, ".jpg": 8, ".bmp": 16}


class Error(Exception):
    """A call of the SDK failed. `status` is its result, `name` the status's
    name (such as "EZ_ERANGE"), `call` the SDK call and `camera` its camera."""

    def __init__(self, status, call, camera=None):
        self.status = status
        named = _lib.StatusName(status)
        self.name = named.decode() if named else f"status {status}"
        self.call = call
        self.camera = camera
        where = f"{call}({camera})" if camera else call
        super().__init__(f"{where}: {self.name} ({status})")


class Frame(np.ndarray):
    """A numpy array of pixels with `meta`, a dict of what the frame's image
    record holds (width, height, depth, resolution index) and of the settings
    a RAW file records (bayer, analog_gain, black_level (None where the model
    has none), idvendor, idproduct, bcddevice), with the exposure in
    milliseconds and `capture`, true when the camera's capture button marked
    the frame."""

    def __new__(cls, pixels, meta):
        frame = np.asarray(pixels).view(cls)
        frame.meta = meta
        return frame

    def __array_finalize__(self, source):
        self.meta = getattr(source, "meta", None)


# ---- Registry and hot-plug ---------------------------------------------------------

_registry_lock = threading.RLock()  # one caller at a time starts, polls and stops
_started = False
_polling = False
_arrival_callbacks = []
_removal_callbacks = []
_callback_errors = []


@_library.HotPlugHandler
def _hotplug(_receiver, name, event):
    callbacks = _arrival_callbacks if event == _ARRIVED else _removal_callbacks
    for callback in list(callbacks):
        try:
            callback(name.decode())
        except BaseException as error:  # raised again by poll(), outside the library
            _callback_errors.append(error)


def _stop():
    global _started
    with _registry_lock:
        if _started:
            _lib.ExitDevice()
            _started = False


def start(directory=""):
    """Starts watching for cameras, keeping parameter sets in `directory`
    (none when empty). cameras(), open() and poll() start with no directory
    when this was not called first; a later call does nothing."""
    global _started
    with _registry_lock:
        if _started:
            return
        if directory and not directory.endswith(os.sep):
            directory += os.sep
        _started = True
        atexit.register(_stop)
        _poll(lambda: _lib.InitDevice(_hotplug, None, os.fsencode(directory)))
        # Cameras a bus reports a moment after start-up.
        while _poll(lambda: _lib.PollDevice(100)) > 0:
            pass


def _poll(call):
    """Runs a call that may deliver hot-plug events, then raises the first
    exception a callback raised. Callbacks that poll again poll nothing."""
    global _polling
    with _registry_lock:
        if _polling:
            return 0
        _polling = True
        try:
            handled = call()
        finally:
            _polling = False
        if _callback_errors:
            error = _callback_errors[0]
            _callback_errors.clear()
            raise error
        return handled


def poll(timeout=0.0):
    """Handles pending arrivals and removals, waiting at most `timeout`
    seconds for the first, and runs their callbacks. Returns how many."""
    start()
    return _poll(lambda: _lib.PollDevice(max(0, int(timeout * 1000))))


def on_arrival(callback):
    """Calls callback(name) whenever a camera arrives; usable as a decorator."""
    _arrival_callbacks.append(callback)
    return callback


def on_removal(callback):
    """Calls callback(name) whenever a camera leaves; usable as a decorator."""
    _removal_callbacks.append(callback)
    return callback


def cameras():
    """Names of the connected cameras, in ascending order."""
    poll()
    with _registry_lock:
        names = (_lib.DeviceName(i) for i in range(_lib.DeviceCount()))
        return [name.decode() for name in names if name]


def open(name=None):  # noqa: A001 - ezcam.open on purpose; this module never needs the builtin
    """The camera of that name (the first camera when None), streaming;
    use it in a with-block or close() it."""
    if name is None:
        names = cameras()
        if not names:
            raise Error(EZ_ENOCAM, "open")
        name = names[0]
    else:
        poll()
    return Camera(name)


# ---- Log messages --------------------------------------------------------------------

_logger = logging.getLogger("ezcam")
_LOG_LEVELS = {0: logging.ERROR, 1: logging.WARNING, 2: logging.INFO, 3: logging.DEBUG}


@_library.LogHandler
def _log(_receiver, level, message):
    _logger.log(_LOG_LEVELS.get(level, logging.DEBUG), "%s", message.decode(errors="replace"))


_lib.SetLogHandler(_log, None)
# Registered before any _stop, so it runs after it: messages of the shutdown
# still arrive, none once Python is going.
atexit.register(lambda: _lib.SetLogHandler(_library.LogHandler(), None))


# ---- Cameras --------------------------------------------------------------------------

class Camera:
    """One camera, by name. Opening it starts its sensor; close() (or the end
    of the with-block) suspends it."""

    def __init__(self, name):
        self.name = name
        self._id = name.encode()
        self._raw = None
        self._check("ResumeDevice", _lib.ResumeDevice(self._id))

    def close(self):
        _lib.SuspendDevice(self._id)  # a camera that is gone needs no suspending

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        return f"<ezcam.Camera {self.name!r}>"

    def _check(self, call, status):
        if status != EZ_OK:
            raise Error(status, call, self.name)

    def _value(self, call, *arguments):
        """The result of a getter whose negative results are failures."""
        result = getattr(_lib, call)(*arguments, self._id)
        if result < 0:
            raise Error(int(result), call, self.name)
        return result

    def _range(self, call, kind):
        low, high, step = kind(), kind(), kind()
        self._check(call, getattr(_lib, call)(ctypes.byref(low), ctypes.byref(high),
                                              ctypes.byref(step), self._id))
        return low.value, high.value, step.value

    # ---- Settings -----------------------------------------------------------------

    @property
    def exposure(self):
        """Exposure time in milliseconds."""
        return self._value("GetExposure")

    @exposure.setter
    def exposure(self, milliseconds):
        self._check("SetExposure", _lib.SetExposure(float(milliseconds), self._id))

    @property
    def exposure_range(self):
        """(minimum, maximum, step) of the exposure in milliseconds."""
        return self._range("GetExposureRange", ctypes.c_float)

    @property
    def gain(self):
        """Analog gain."""
        return self._value("GetAnaloggain")

    @gain.setter
    def gain(self, value):
        self._check("SetAnaloggain", _lib.SetAnaloggain(int(value), self._id))

    @property
    def gain_range(self):
        """(minimum, maximum, step) of the analog gain."""
        return self._range("GetAnaloggainRange", ctypes.c_int)

    @property
    def resolutions(self):
        """The camera's resolutions as (width, height), by index."""
        return [(self._value("GetResWidth", i), self._value("GetResHeight", i))
                for i in range(self._value("GetResolutionCount"))]

    @property
    def resolution(self):
        """(width, height) of the current resolution; set it by its index in
        `resolutions` or by that pair (the first resolution of that size)."""
        index = self._value("GetResolution")
        return self._value("GetResWidth", index), self._value("GetResHeight", index)

    @resolution.setter
    def resolution(self, wanted):
        if isinstance(wanted, tuple):
            sizes = self.resolutions
            if tuple(wanted) not in sizes:
                raise ValueError(f"{self.name} has no resolution {wanted}; it has {sizes}")
            wanted = sizes.index(tuple(wanted))
        self._check("SetResolution", _lib.SetResolution(int(wanted), self._id))

    @property
    def depth(self):
        """Bits per raw sample: 8 or 16."""
        return self._value("GetRawDepth")

    @depth.setter
    def depth(self, bits):
        self._check("SetRawDepth", _lib.SetRawDepth(int(bits), self._id))

    @property
    def region(self):
        """The region of interest as (x, y, width, height), or None when the
        whole frame is read; the camera may round or clamp a region set."""
        on = ctypes.c_bool()
        self._check("GetRoiState", _lib.GetRoiState(ctypes.byref(on), self._id))
        if not on.value:
            return None
        values = [ctypes.c_int() for _ in range(4)]
        self._check("GetRoi", _lib.GetRoi(*map(ctypes.byref, values), self._id))
        return tuple(v.value for v in values)

    @region.setter
    def region(self, region):
        if region is not None:
            x, y, width, height = (int(v) for v in region)
            self._check("SetRoi", _lib.SetRoi(x, y, width, height, self._id))
        self._check("SetRoiState", _lib.SetRoiState(region is not None, self._id))

    # ---- Frames -------------------------------------------------------------------

    def _read_raw(self):
        """Reads the next raw frame into the camera's buffer; its status (0
        or EZ_CAPTURE)."""
        size = self._value("RecvMemSize")
        if self._raw is None or len(self._raw) != size:
            self._raw = (ctypes.c_ubyte * size)()
        status = EZ_EIO
        # Frames that carry no picture (a defect search, a lost frame) are skipped.
        for _ in range(_FRAME_ATTEMPTS):
            status = _lib.GetRawData(self._raw, size, self._id)
            if status in (EZ_OK, EZ_CAPTURE, EZ_ENOCAM, EZ_ERANGE):
                break
        if status not in (EZ_OK, EZ_CAPTURE):
            raise Error(status, "GetRawData", self.name)
        return status

    def _frame(self, buffer, status=EZ_OK):
        """The pixels behind the image record at the start of `buffer`."""
        record = ImageRecord.from_buffer(buffer)
        samples = record.channels if record.decoded else 1
        bytes_per_sample = record.depth // 8
        row = record.width * samples * bytes_per_sample
        if (record.signature != b"KVEZ" or bytes_per_sample not in (1, 2) or record.stride < row
                or record.header_size + record.stride * record.height > len(buffer)):
            raise Error(EZ_EIO, "image record", self.name)
        rows = np.frombuffer(buffer, np.uint8, record.stride * record.height,
                             record.header_size).reshape(record.height, record.stride)[:, :row]
        pixels = rows.copy().view("<u2" if bytes_per_sample == 2 else np.uint8)
        shape = (record.height, record.width) + ((samples,) if samples > 1 else ())
        meta = {name: getattr(record, name) for name in ("width", "height", "depth", "resolution")}
        # The reader leaves the settings out of the record; they are the
        # camera's current ones, as a RAW file records them.
        black_level = _lib.GetBlacklevel(self._id)
        meta.update(bayer=_lib.GetRawBayernPattern(self._id), exposure=self.exposure,
                    analog_gain=self.gain, black_level=black_level if black_level >= 0 else None,
                    idvendor=_lib.DeviceVendor(self._id), idproduct=_lib.DeviceProduct(self._id),
                    bcddevice=_lib.DeviceBcd(self._id), capture=status == EZ_CAPTURE)
        return Frame(pixels.reshape(shape), meta)

    def grab(self):
        """The next raw frame: the sensor's mosaic, rows x columns, 8 or
        16-bit samples, as a Frame with the record's metadata."""
        status = self._read_raw()
        return self._frame(self._raw, status)

    def image(self):
        """The next frame, finished with the camera's processing settings:
        rows x columns x 3 (red, green, blue) for colour cameras, rows x
        columns for monochrome ones, as a Frame."""
        status = self._read_raw()
        record = ImageRecord.from_buffer(self._raw)
        size = record.header_size + record.stride * record.height * 3 + _STATISTICS_BYTES
        image = (ctypes.c_ubyte * size)()
        self._check("DecodeRaw2Image", _lib.DecodeRaw2Image(self._raw, image, self._id))
        return self._frame(image, status)

    def save(self, path):
        """Writes the next frame to `path`, in the format its extension names
        (.raw keeps the raw frame; .tif, .png, .jpg and .bmp the finished
        image). Returns the path."""
        base, extension = os.path.splitext(os.fspath(path))
        if extension not in _FORMATS:
            raise ValueError(f"cannot save {path!r}: the extension must be one of "
                             + ", ".join(_FORMATS))
        self._read_raw()
        self._check("SaveFile", _lib.SaveFile(self._raw, os.fsencode(base), _FORMATS[extension],
                                              self._id))
        return path
