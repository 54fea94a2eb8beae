"""The Python package on simulated cameras: 0547:c004 (colour, 8-bit) and
0547:c00c (colour, 12-bit samples at 16 bits)."""
import datetime
import importlib.metadata
import os
import struct
import subprocess
import sys
import time
import warnings

import numpy as np
import pytest

import ezcam

COLOUR, DEEP = "QC500.0", "IMX122.0"


def test_cameras_are_listed_and_opened_by_name():
    assert ezcam.cameras() == [DEEP, COLOUR]
    with ezcam.open() as first:
        assert first.name == DEEP
    with pytest.raises(ezcam.Error) as caught:
        ezcam.open("QC999.0")
    assert (caught.value.name, caught.value.status, caught.value.call) == ("EZ_ENOCAM", -1,
                                                                           "ResumeDevice")


def test_the_package_under_test_is_the_one_pip_installed():
    environment = os.environ.get("EZCAM_EXPECT_INSTALLED")
    if not environment:
        pytest.skip("run from the source tree, not through an installation")
    assert os.path.realpath(ezcam.__file__).startswith(os.path.realpath(environment) + os.sep)
    assert importlib.metadata.version("ezcam") == ezcam.__version__


@pytest.mark.parametrize("where", ["pkg-config", "loader"])
def test_the_library_is_found_without_being_named(where, tmp_path):
    library = os.environ.get("EZCAM_LIBRARY")
    if not library:
        pytest.skip("the library's place is not known to the test")
    libdir = os.path.dirname(os.path.realpath(library))
    env = dict(os.environ, EZCAM_SIM="0547:c004")
    env.pop("EZCAM_LIBRARY")
    env.pop("LD_LIBRARY_PATH", None)
    if where == "pkg-config":
        (tmp_path / "ezcam.pc").write_text(
            f"libdir={libdir}\nName: ezcam\nDescription: test\nVersion: 0\nLibs: -L${{libdir}}\n")
        env["PKG_CONFIG_PATH"] = str(tmp_path)
    else:
        env["LD_LIBRARY_PATH"] = libdir
    script = "import ezcam; print(ezcam._lib._name, ezcam.cameras())"
    run = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True,
                         cwd=tmp_path, timeout=120)
    assert run.returncode == 0, run.stderr
    loaded, names = run.stdout.split(" ", 1)
    assert names.strip() == "['QC500.0']"
    if where == "pkg-config":
        assert loaded == os.path.join(libdir, "libezcam.so.0")


def test_settings_read_back_and_refusals_raise_with_the_status_name():
    with ezcam.open(COLOUR) as cam:
        _, highest, _ = cam.gain_range
        cam.gain = highest
        assert cam.gain == highest
        cam.exposure = 10.0
        assert cam.exposure == pytest.approx(10.0, rel=0.05)
        cam.resolution = cam.resolutions[2]
        assert cam.resolution == cam.resolutions[2]
        # Modes of one size are told apart by their labels.
        sizes, labels = cam.resolutions, cam.resolution_labels
        assert len(labels) == len(sizes) and len(set(labels)) == len(labels)
        assert len(set(sizes)) < len(sizes)
        for wrong, status in (("resolution", 99), ("depth", 16)):
            with pytest.raises(ezcam.Error) as caught:
                setattr(cam, wrong, status)
            assert caught.value.name == {"resolution": "EZ_ERANGE", "depth": "EZ_ENOTSUP"}[wrong]
        # The library names every status, also those the package has no call for.
        assert ezcam.Error(-6, "FinishMaster", cam.name).name == "EZ_ELIT"
        with pytest.raises(ValueError):
            cam.resolution = (1, 1)


def test_raw_and_finished_frames_with_their_record():
    with ezcam.open(COLOUR) as cam:
        cam.resolution = 2
        width, height = cam.resolution
        raw = cam.grab()
        # The mosaic keeps the 4-pixel border the finished image loses.
        assert (raw.shape, raw.dtype) == ((height + 8, width + 8), np.uint8)
        assert (raw.meta["width"], raw.meta["depth"], raw.meta["idproduct"],
                raw.meta["bayer"]) == (width + 8, 8, 0xc004, 3)
        image = cam.image()
        assert (image.shape, image.dtype) == ((height, width, 3), np.uint8)
        assert 10 < image.mean() < 245

        cam.region = (64, 32, 128, 96)
        assert cam.region == (64, 32, 128, 96)
        assert cam.image().shape == (96, 128, 3)
        cam.region = None
        assert cam.region is None and cam.image().shape == (height, width, 3)


def test_a_region_changed_while_one_is_in_force_follows_at_once():
    # At the full resolution the camera programs its region into the sensor.
    with ezcam.open(COLOUR) as cam:
        cam.resolution = 0
        for region in [(0, 0, 640, 480), (100, 100, 200, 200), (0, 0, 8, 8)]:
            cam.region = region
            x, y, width, height = cam.region
            assert (x, y, width) == region[:3] and height >= region[3]
            assert cam.grab().shape == (height + 8, width + 8)
            assert cam.image().shape == (height, width, 3)


def test_sixteen_bit_samples_arrive_in_host_order_aligned_to_the_top_bit():
    with ezcam.open(DEEP) as cam:
        cam.depth = 16
        cam.grab()  # the frame on which the depth changes
        raw = cam.grab()
        assert raw.dtype == np.uint16 and raw.meta["depth"] == 16
        assert not (raw & 0x0F).any() and raw.max() > 0x1000  # 12-bit samples, shifted up
        with pytest.raises(ezcam.Error) as caught:
            cam.depth = 12
        assert caught.value.name == "EZ_ERANGE"
        cam.depth = 8


def test_save_writes_the_format_its_extension_names(tmp_path):
    with ezcam.open(COLOUR) as cam:
        cam.resolution = 2
        path = cam.save(tmp_path / "shot.png")
        with open(path, "rb") as png:
            head = png.read(24)
        assert head[:8] == b"\x89PNG\r\n\x1a\n"
        assert struct.unpack(">II", head[16:24]) == cam.resolution
        with pytest.raises(ValueError):
            cam.save(tmp_path / "shot.gif")


def test_hot_plug_callbacks_run_in_poll_and_their_errors_come_out_of_it():
    arrived, left = [], []
    ezcam.on_arrival(arrived.append)
    ezcam.on_removal(left.append)

    def poll_until(condition):
        for _ in range(50):
            if condition():
                return
            ezcam.poll(0.1)
        pytest.fail("no hot-plug event")

    try:
        plugged = ezcam._lib.SimPlugCamera(0x0547, 0xc006, 0x0100)
        poll_until(lambda: arrived)
        assert arrived[0].startswith("QC500M.") and arrived[0] in ezcam.cameras()
        ezcam._lib.SimUnplugCamera(plugged)
        poll_until(lambda: left)
        assert left == arrived and arrived[0] not in ezcam.cameras()

        def broken(name):
            raise RuntimeError("from the callback")

        ezcam.on_arrival(broken)
        plugged = ezcam._lib.SimPlugCamera(0x0547, 0xc006, 0x0100)
        with pytest.raises(RuntimeError, match="from the callback"):
            poll_until(lambda: False)
        ezcam._lib.SimUnplugCamera(plugged)
    finally:
        ezcam._arrival_callbacks.clear()
        ezcam._removal_callbacks.clear()


@pytest.mark.parametrize("level, warns, informs", [
    (None, True, False), ("error", False, False), ("info", True, True)])
def test_messages_reach_logging_at_the_chosen_level_and_stdout_stays_quiet(level, warns, informs):
    script = ("import logging, ezcam\n"
              "logging.basicConfig(level=logging.DEBUG, format='%(levelname)s %(message)s')\n"
              "with ezcam.open() as cam: cam.image()\n")
    # 0xa005 names itself at open instead of answering the version request.
    env = dict(os.environ, EZCAM_SIM="0547:a005,junk")
    env.pop("EZCAM_LOG", None)
    if level:
        env["EZCAM_LOG"] = level
    run = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True,
                         check=True, timeout=120)
    assert run.stdout == ""
    assert ('WARNING EZCAM_SIM: ignoring "junk"' in run.stderr) == warns
    assert ("INFO a005 547" in run.stderr) == informs


def test_frames_carry_their_number_time_and_settings():
    with ezcam.open(COLOUR) as cam:
        cam.resolution = 2
        cam.exposure = 5.0
        lowest, highest, _ = cam.gain_range
        cam.gain = lowest
        before = datetime.datetime.now(datetime.timezone.utc)
        frames = []
        for frame in cam.stream(6):
            frames.append(frame)
            if len(frames) == 3:
                cam.gain = highest  # reaches the frames that follow
        after = datetime.datetime.now(datetime.timezone.utc)
        numbers = [f.info.frame for f in frames]
        assert numbers == list(range(numbers[0], numbers[0] + 6))
        assert all(a.info.monotonic_ns < b.info.monotonic_ns for a, b in zip(frames, frames[1:]))
        slack = datetime.timedelta(seconds=1)
        assert all(before - slack <= f.info.time <= after + slack for f in frames)
        assert [f.info.analog_gain for f in frames[:3]] == [lowest] * 3
        assert [f.info.analog_gain for f in frames[4:]] == [highest] * 2
        for frame in frames:
            info = frame.info
            assert (info.height, info.width) == frame.shape
            assert info.exposure_ms == pytest.approx(cam.exposure)
            assert (info.depth, info.bayer, info.pattern) == (8, 3, "RGGB")
            assert info.temperature is None  # the model has no sensor thermometer
            assert frame.meta["analog_gain"] == info.analog_gain
        # A finished image keeps the facts of the raw frame it was made from.
        image = cam.image()
        assert image.info.frame > numbers[-1] and image.info.width == image.shape[1] + 8
        # Slicing keeps them too: they belong to the pixels.
        assert frames[0][10:20].info == frames[0].info


def test_stream_runs_as_an_iterator_of_raw_or_finished_frames():
    with ezcam.open(COLOUR) as cam:
        cam.resolution = 2
        width, height = cam.resolution
        images = list(cam.stream(2, finished=True))
        assert [i.shape for i in images] == [(height, width, 3)] * 2
        for count, frame in enumerate(cam, start=1):
            assert frame.shape == (height + 8, width + 8)
            if count == 3:
                break
        assert list(cam.stream(0)) == []

        # A mode changed while streaming: the frames after it say so, and
        # any frame the change cost is counted, not delivered.
        shapes = []
        for count, frame in enumerate(cam.stream(4)):
            shapes.append((frame.info.resolution, frame.shape))
            if count == 1:
                cam.resolution = 1
        small = (height + 8, width + 8)
        width, height = cam.resolution
        assert shapes[:2] == [(2, small)] * 2
        assert shapes[2:] == [(1, (height + 8, width + 8))] * 2
        assert frame.info.frames_lost >= frame.info.mode_drops


@pytest.mark.parametrize("setting, asked, in_force", [
    ("gain", 100000, lambda cam: cam.gain_range[1]),
    ("gain", -5, lambda cam: cam.gain_range[0]),
    ("exposure", 1e7, lambda cam: cam.exposure_range[1]),
])
def test_a_setting_outside_the_range_warns_with_the_value_in_force(setting, asked, in_force):
    with ezcam.open(COLOUR) as cam:
        with pytest.warns(ezcam.RangeWarning) as caught:
            setattr(cam, setting, asked)
        warning = caught[0].message
        assert (warning.setting, warning.asked, warning.camera) == (setting, asked, COLOUR)
        assert warning.value == getattr(cam, setting)
        assert warning.value == pytest.approx(in_force(cam), rel=0.01)
        assert caught[0].filename == __file__  # points at the caller's line
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            cam.gain = cam.gain_range[0]  # inside: silent
            cam.exposure = 10.0


def test_refused_settings_raise():
    with ezcam.open(COLOUR) as cam:
        with pytest.raises(ezcam.Error) as caught:
            cam.exposure = float("nan")
        assert caught.value.name == "EZ_ERANGE"
        with pytest.raises(ezcam.Error) as caught:
            cam.black_level = 10
        assert caught.value.name == "EZ_ENOTSUP"
    with ezcam.open(DEEP) as cam:
        low, high, _ = cam.black_level_range
        cam.black_level = high
        assert cam.black_level == high
        with pytest.raises(ezcam.Error) as caught:
            cam.black_level = high + 1
        assert caught.value.name == "EZ_ERANGE" and cam.black_level == high
        cam.black_level = low
