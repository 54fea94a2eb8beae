"""ezcam: the ezcam camera SDK from Python, over libezcam (ctypes).

    import ezcam

    print(ezcam.cameras())              # names of the connected cameras
    with ezcam.open() as cam:           # the first camera, or ezcam.open("QC500.0")
        cam.exposure = 20.0             # milliseconds
        cam.resolution = (1272, 952)
        raw = cam.grab()                # raw mosaic; raw.info: number, time, settings
        rgb = cam.image()               # finished image, rows x columns x 3
        for frame in cam.stream(10):    # ten raw frames in a row
            print(frame.info.frame, frame.info.exposure_ms, frame.mean())
        cam.save("shot.png")

Calls that fail raise ezcam.Error, whose `name` is the status's name (such as
"EZ_ERANGE"). A setting outside the range the camera reports is brought
into it by the camera; the package says so with an ezcam.RangeWarning that
names the value in force. Hot-plug callbacks registered with on_arrival and on_removal
run inside poll() (and cameras(), open()) on the calling thread. The
library's log messages go to the "ezcam" logger of the logging module.
"""

import atexit
import ctypes
import dataclasses
import datetime
import logging
import os
import threading
import warnings

import numpy as np

from . import _library
from ._library import FrameInfoRecord, ImageRecord
from ._version import __version__

__all__ = ["Camera", "Error", "Frame", "FrameInfo", "RangeWarning", "cameras", "on_arrival",
           "on_removal", "open", "poll", "start", "__version__"]

_lib = _library.load()

EZ_OK, EZ_ENOCAM, EZ_ERANGE, EZ_EIO, EZ_CAPTURE = 0, -1, -2, -3, 1
_ARRIVED = 0  # EZ_DEVICE_ARRIVED
_STATISTICS_BYTES = 4 * 258 * 4  # behind a finished image's pixels (src/processing/image_record.h)
_FRAME_ATTEMPTS = 20
# Still formats by file extension: SaveFile's format bits, EZ_FORMAT_* of ezcam.h.
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


class RangeWarning(UserWarning):
    """A setting asked for lies outside the camera's range; the camera keeps
    the nearest value it can (`value`), which the warning names."""

    def __init__(self, setting, asked, value, limits, camera):
        self.setting, self.asked, self.value, self.limits = setting, asked, value, limits
        self.camera = camera
        super().__init__(f"{camera}: {setting} {asked!r} is outside {limits[0]!r}..{limits[1]!r}; "
                         f"the camera uses {value!r}")


@dataclasses.dataclass(frozen=True)
class FrameInfo:
    """What the frame reader knew of one raw frame (ezcam.h's EzFrameInfo):
    its number and times, and the settings it was taken under. Counters run
    from the start of the stream (opening the camera)."""
    frame: int           # frames delivered since the stream started; 0 for the first
    frames_lost: int     # reads since the stream started that lost their frame
    mode_drops: int      # of those, frames a resolution, clock or region change dropped
    monotonic_ns: int    # CLOCK_MONOTONIC when the frame's transfer ended
    utc_ns: int          # the same moment, nanoseconds since 1970-01-01 UTC
    exposure_ms: float
    temperature: float   # sensor temperature in degrees Celsius; None when the model has none
    analog_gain: int
    black_level: int
    pixel_clock: int     # pixel-clock index
    resolution: int      # resolution index the frame was asked in
    width: int           # the frame as delivered
    height: int
    roi_x: int           # its origin in the resolution's whole frame
    roi_y: int
    x_binning: int       # sensor pixels per frame pixel; 0 a binned mode of unstated factor
    y_binning: int
    depth: int           # bits per sample
    bayer: int           # Bayer code of the first sample; 0 monochrome

    @classmethod
    def _from_record(cls, record):
        values = {field.name: getattr(record, field.name) for field in dataclasses.fields(cls)}
        if not record.has_temperature:
            values["temperature"] = None
        return cls(**values)

    @property
    def time(self):
        """The end of the frame's transfer as an aware datetime in UTC."""
        seconds, nanoseconds = divmod(self.utc_ns, 1_000_000_000)
        moment = datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc)
        return moment + datetime.timedelta(microseconds=nanoseconds // 1000)

    @property
    def pattern(self):
        """The Bayer pattern's name ("RGGB", "GRBG", "BGGR", "GBRG"); "" for
        a monochrome frame."""
        return _lib.BayerPatternName(self.bayer).decode()


class Frame(np.ndarray):
    """A numpy array of pixels with `info`, the FrameInfo of the raw frame it
    comes from (None where there is none), and `meta`, a dict of what the
    frame's image record holds (width, height, depth, resolution index) and
    of the settings a RAW file records (bayer, exposure in milliseconds,
    analog_gain, black_level (None where the model has none), idvendor,
    idproduct, bcddevice), with `capture`, true when the camera's capture
    button marked the frame."""

    def __new__(cls, pixels, meta, info=None):
        frame = np.asarray(pixels).view(cls)
        frame.meta = meta
        frame.info = info
        return frame

    def __array_finalize__(self, source):
        self.meta = getattr(source, "meta", None)
        self.info = getattr(source, "info", None)


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
        milliseconds = float(milliseconds)
        self._check("SetExposure", _lib.SetExposure(milliseconds, self._id))
        self._warn_outside("exposure", milliseconds, self.exposure_range, self.exposure)

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
        value = int(value)
        self._check("SetAnaloggain", _lib.SetAnaloggain(value, self._id))
        self._warn_outside("gain", value, self.gain_range, self.gain)

    @property
    def gain_range(self):
        """(minimum, maximum, step) of the analog gain."""
        return self._range("GetAnaloggainRange", ctypes.c_int)

    @property
    def black_level(self):
        """The sensor's black level; Error EZ_ENOTSUP where the model has none."""
        self.black_level_range  # the models without one answer their getter with 0
        return self._value("GetBlacklevel")

    @black_level.setter
    def black_level(self, value):
        # The camera refuses a level outside its range (EZ_ERANGE).
        self._check("SetBlacklevel", _lib.SetBlacklevel(int(value), self._id))

    @property
    def black_level_range(self):
        """(minimum, maximum, step) of the black level."""
        return self._range("GetBlacklevelRange", ctypes.c_int)

    def _warn_outside(self, setting, asked, limits, value):
        """The setters of the camera clamp a value outside their range and
        answer success; the caller hears of it here."""
        low, high, _ = limits
        if not low <= asked <= high:
            warnings.warn(RangeWarning(setting, asked, value, (low, high), self.name),
                          stacklevel=3)

    @property
    def resolutions(self):
        """The camera's resolutions as (width, height), by index."""
        return [(self._value("GetResWidth", i), self._value("GetResHeight", i))
                for i in range(self._value("GetResolutionCount"))]

    @property
    def resolution_labels(self):
        """The camera's names of its resolutions, by index: they tell apart
        the modes of one size (a binned readout says "Bin")."""
        labels = (_lib.GetResItemName(i, self._id) for i in range(self._value("GetResolutionCount")))
        return [label.decode() if label else "" for label in labels]

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
        or EZ_CAPTURE) and its FrameInfo."""
        size = self._value("RecvMemSize")
        if self._raw is None or len(self._raw) != size:
            self._raw = (ctypes.c_ubyte * size)()
        info = FrameInfoRecord()
        status = EZ_EIO
        # Frames that carry no picture (a defect search, a lost frame) are
        # skipped; the info's frames_lost counts the lost ones.
        for _ in range(_FRAME_ATTEMPTS):
            status = _lib.GetRawDataInfo(self._raw, size, ctypes.byref(info), self._id)
            if status in (EZ_OK, EZ_CAPTURE, EZ_ENOCAM, EZ_ERANGE):
                break
        if status not in (EZ_OK, EZ_CAPTURE):
            raise Error(status, "GetRawData", self.name)
        return status, FrameInfo._from_record(info)

    def _frame(self, buffer, status, info):
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
        # The settings as the frame was taken, from its info rather than the
        # camera's state now.
        has_black_level = _lib.GetBlacklevelRange(None, None, None, self._id) == EZ_OK
        meta.update(bayer=info.bayer, exposure=info.exposure_ms, analog_gain=info.analog_gain,
                    black_level=info.black_level if has_black_level else None,
                    idvendor=_lib.DeviceVendor(self._id), idproduct=_lib.DeviceProduct(self._id),
                    bcddevice=_lib.DeviceBcd(self._id), capture=status == EZ_CAPTURE)
        return Frame(pixels.reshape(shape), meta, info)

    def grab(self):
        """The next raw frame: the sensor's mosaic, rows x columns, 8 or
        16-bit samples, as a Frame with its FrameInfo."""
        status, info = self._read_raw()
        return self._frame(self._raw, status, info)

    def image(self):
        """The next frame, finished with the camera's processing settings:
        rows x columns x 3 (red, green, blue) for colour cameras, rows x
        columns for monochrome ones, as a Frame with the FrameInfo of its
        raw frame."""
        status, info = self._read_raw()
        return self._finish(status, info)

    def _finish(self, status, info):
        record = ImageRecord.from_buffer(self._raw)
        size = record.header_size + record.stride * record.height * 3 + _STATISTICS_BYTES
        image = (ctypes.c_ubyte * size)()
        self._check("DecodeRaw2Image", _lib.DecodeRaw2Image(self._raw, image, self._id))
        return self._frame(image, status, info)

    def stream(self, count=None, finished=False):
        """Yields the next `count` frames (without end when None) as they
        arrive: raw ones as grab() gives them, finished ones as image() does
        when `finished` is true. Settings changed between frames apply to the
        frames that follow; frames the camera lost are left out, and the next
        frame's info.frames_lost counts them."""
        delivered = 0
        while count is None or delivered < count:
            status, info = self._read_raw()
            yield self._finish(status, info) if finished else self._frame(self._raw, status, info)
            delivered += 1

    def __iter__(self):
        """Raw frames without end: `for frame in cam:`."""
        return self.stream()

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
