#!/usr/bin/env python3
"""indi_ezcam_ccd against the real indiserver and clients.

Starts indiserver with the driver on simulated cameras on a free port, drives
it with indi_setprop / indi_getprop (indi-bin) and with tests/indi_client (on
libindi's BaseClient), and reads the FITS images back with astropy and
fitsverify. The same simulated models are read in this process through the
SDK (the Python package) for the reference values: names, sizes, regions,
patterns and pixels.

usage: indi_driver.py DRIVER CLIENT
"""
import ctypes
import datetime
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

import numpy as np
from astropy.io import fits

# The cameras of the session: a colour camera, a cooled 16-bit monochrome one
# with a thermometer, a monochrome one with a black level. Simulated ids 1, 2, 3.
CAMERAS = "0547:c004,0547:e00a@a001,0547:c00a"
QC500, COOLED, MONO = "ezcam QC500 0", "ezcam R-674 0", "ezcam Norvan M15 0"

os.environ["EZCAM_SIM"] = CAMERAS
os.environ["EZCAM_SIM_SCENE"] = "flat"
import ezcam  # noqa: E402 - the simulated bus is chosen when the library starts

# A sanitizer build preloads its runtime into this Python for the library;
# the INDI server and tools are not instrumented and fail with it, and the
# driver loads its own.
os.environ.pop("LD_PRELOAD", None)

for call in ("GetResItemName", "BayerPatternName"):
    getattr(ezcam._lib, call).restype = ctypes.c_char_p

DRIVER, CLIENT = (os.path.abspath(path) for path in sys.argv[1:3])
# Sanitizer builds run the driver and the simulator several times slower;
# their CTest entry scales every wait by this factor.
SLOW = float(os.environ.get("EZCAM_TEST_TIME_SCALE", "1"))
STEP_TIMEOUT = int(30 * SLOW)  # seconds any one command may take


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """indiserver with the driver, in a directory of its own (HOME, the
    simulator's control file), stopped on exit."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="indi_driver.")
        self.control = os.path.join(self.dir, "control")
        open(self.control, "w").close()
        self.port = free_port()
        env = dict(os.environ, HOME=self.dir, EZCAM_SIM=CAMERAS, EZCAM_SIM_CONTROL=self.control,
                   EZCAM_SIM_SCENE="flat")
        self.log = open(os.path.join(self.dir, "indiserver.log"), "w")
        # A local socket of its own, so that other INDI servers on the machine do not matter.
        self.process = subprocess.Popen(["indiserver", "-p", str(self.port), "-u", os.path.join(self.dir, "socket"),
                                         DRIVER], env=env, stdout=self.log, stderr=subprocess.STDOUT, cwd=self.dir)
        deadline = time.monotonic() + STEP_TIMEOUT
        while QC500 not in self.devices(1):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("indiserver did not start:\n" + self.tail())
            time.sleep(0.2)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.log.close()

    def tail(self):
        with open(os.path.join(self.dir, "indiserver.log")) as log:
            return "".join(log.readlines()[-30:])

    def run(self, *command, timeout=STEP_TIMEOUT, check=True):
        result = subprocess.run(command, capture_output=True, text=True, timeout=timeout, cwd=self.dir)
        if check and result.returncode != 0:
            raise AssertionError(f"{command} failed ({result.returncode}):\n{result.stdout}{result.stderr}")
        return result

    def get(self, pattern, timeout=2):
        """Properties matching pattern as {"device.property.element": "value"}."""
        result = self.run("indi_getprop", "-p", str(self.port), "-t", str(timeout), pattern, check=False)
        values = {}
        for line in result.stdout.splitlines():
            key, _, value = line.partition("=")
            values[key] = value
        return values

    def value(self, device, prop, element):
        return self.get(f"{device}.{prop}.{element}").get(f"{device}.{prop}.{element}")

    def state(self, device, prop):
        return self.value(device, prop, "_STATE")

    def set(self, device, prop, elements, values):
        self.run("indi_setprop", "-p", str(self.port), f"{device}.{prop}.{elements}={values}")

    def wait_for(self, what, predicate, timeout=10):
        deadline = time.monotonic() + timeout * SLOW
        while not predicate():
            if time.monotonic() > deadline:
                raise AssertionError(f"timed out waiting for {what}")
            time.sleep(0.2)

    def client(self, *arguments, timeout=STEP_TIMEOUT, check=True):
        return self.run(CLIENT, str(self.port), *arguments, timeout=timeout + 5, check=check)

    def devices(self, seconds):
        result = subprocess.run([CLIENT, str(self.port), "devices", str(seconds)], capture_output=True,
                                text=True, timeout=seconds + 10)
        return result.stdout.split("\n") if result.returncode == 0 else []

    def connect(self, device):
        self.set(device, "CONNECTION", "CONNECT", "On")
        self.wait_for(f"{device} to connect", lambda: self.value(device, "CCD_EXPOSURE", "CCD_EXPOSURE_VALUE"))

    def expose(self, device, seconds, name):
        path = os.path.join(self.dir, name)
        result = self.client("expose", device, str(seconds), path, str(STEP_TIMEOUT))
        return fits.open(path)[0], result.stdout

    def plug(self, line):
        with open(self.control, "a") as control:
            control.write(line + "\n")


def device_name(camera):
    model, _, index = camera.rpartition(".")
    return f"ezcam {model} {index}"


def block_means(pixels, block=16):
    rows, cols = pixels.shape[0] // block, pixels.shape[1] // block
    cut = pixels[:rows * block, :cols * block].astype(np.float64)
    return cut.reshape(rows, block, cols, block).mean(axis=(1, 3))


# ---- Cases -----------------------------------------------------------------------------


def test_devices_and_properties(server):
    expected = sorted(device_name(name) for name in ezcam.cameras())
    assert sorted(d for d in server.devices(1) if d) == expected, (server.devices(1), expected)
    for device in expected:
        server.connect(device)
    properties = server.get("*.*.*")
    names = {key.rsplit(".", 1)[0] for key in properties}
    standard = ["CCD_EXPOSURE", "CCD_ABORT_EXPOSURE", "CCD_FRAME", "CCD_BINNING", "CCD_INFO",
                "CCD_FRAME_TYPE", "CCD_CONTROLS", "CCD_CAPTURE_FORMAT", "CCD_VIDEO_STREAM"]
    for device in expected:
        for prop in standard:
            assert f"{device}.{prop}" in names, (device, prop)
    # Temperature and cooler on the cooled model only; 16-bit where the model has it.
    assert f"{COOLED}.CCD_TEMPERATURE" in names and f"{COOLED}.CCD_COOLER" in names
    for device in (QC500, MONO):
        assert f"{device}.CCD_TEMPERATURE" not in names and f"{device}.CCD_COOLER" not in names
    assert f"{COOLED}.CCD_CAPTURE_FORMAT.EZ_RAW16" in properties
    assert f"{QC500}.CCD_CAPTURE_FORMAT.EZ_RAW16" not in properties
    # Offset only where the model has a black level.
    assert f"{MONO}.CCD_CONTROLS.Offset" in properties
    assert f"{QC500}.CCD_CONTROLS.Offset" not in properties

    with ezcam.open("QC500.0") as cam:
        width, height = ezcam._lib.GetResWidth(0, cam._id), ezcam._lib.GetResHeight(0, cam._id)
        pattern = ezcam._lib.BayerPatternName(ezcam._lib.GetRawBayernPattern(cam._id)).decode()
        sizes = cam.resolutions
    assert pattern and properties[f"{QC500}.CCD_CFA.CFA_TYPE"] == pattern
    assert f"{MONO}.CCD_CFA.CFA_TYPE" not in properties or not properties[f"{MONO}.CCD_CFA.CFA_TYPE"]
    # The full frame the camera delivers (a few columns and rows of border more).
    max_x = int(properties[f"{QC500}.CCD_INFO.CCD_MAX_X"])
    max_y = int(properties[f"{QC500}.CCD_INFO.CCD_MAX_Y"])
    assert width <= max_x <= width + 16 and height <= max_y <= height + 16, (max_x, max_y, width, height)
    assert properties[f"{QC500}.CCD_INFO.CCD_BITSPERPIXEL"] == "8"
    # Binning from the resolution modes only: 2 and 4 exist on this model, 3 does not.
    binned = {round(width / w) for w, h in sizes if abs(round(width / w) * w - width) < width * 0.05}
    assert {1, 2, 4} <= binned and 3 not in binned
    server.set(QC500, "CCD_BINNING", "HOR_BIN;VER_BIN", "4;4")
    server.wait_for("binning 4", lambda: server.state(QC500, "CCD_BINNING") == "Ok")
    server.run("indi_setprop", "-p", str(server.port), f"{QC500}.CCD_BINNING.HOR_BIN;VER_BIN=3;3")
    server.wait_for("binning 3 refused", lambda: server.state(QC500, "CCD_BINNING") == "Alert")
    server.set(QC500, "CCD_BINNING", "HOR_BIN;VER_BIN", "1;1")
    server.wait_for("binning 1", lambda: server.state(QC500, "CCD_BINNING") == "Ok")


def test_light_frame_matches_sdk(server):
    device, camera = MONO, "Norvan M15.0"
    gain, offset, exposure = 40, 20, 0.02
    server.set(device, "CCD_CONTROLS", "Gain;Offset", f"{gain};{offset}")
    server.set(device, "CCD_BINNING", "HOR_BIN;VER_BIN", "2;2")
    # An origin off the camera's grid: the camera moves it, and CCD_FRAME says where.
    server.set(device, "CCD_FRAME", "X;Y;WIDTH;HEIGHT", "203;101;801;601")
    server.wait_for("the region", lambda: server.state(device, "CCD_FRAME") == "Ok")
    frame = [int(server.value(device, "CCD_FRAME", e)) for e in ("X", "Y", "WIDTH", "HEIGHT")]
    assert server.value(device, "CCD_CONTROLS", "Gain") == str(gain)
    hdu, output = server.expose(device, exposure, "light.fits")
    progress = output.split("progress")[1].split()
    assert float(progress[0]) == exposure and float(progress[-1]) == 0, output

    # The same settings through the SDK in this process.
    with ezcam.open(camera) as cam:
        sizes = cam.resolutions
        full = sizes[0]
        binned = next(i for i, (w, h) in enumerate(sizes) if round(full[0] / w) == 2 and "Bin" in
                      ezcam._lib.GetResItemName(i, cam._id).decode())
        cam.resolution = binned
        cam.region = (203 // 2, 101 // 2, (801 + 1) // 2, (601 + 1) // 2)
        cam.exposure = exposure * 1000
        cam.gain = gain
        ezcam._lib.SetBlacklevel(offset, cam._id)
        region = cam.region
        for _ in range(3):  # past the frames a region change may cost
            reference = cam.grab()
    data = hdu.data
    header = hdu.header
    # Region and size as the camera took them, in sensor pixels at binning 2.
    assert frame[:2] == [2 * region[0], 2 * region[1]], (frame, region)
    assert data.shape == reference.shape == (frame[3] // 2, frame[2] // 2), (data.shape, reference.shape, frame)
    assert header["BITPIX"] == 8 and header["XBINNING"] == 2 and header["YBINNING"] == 2
    assert abs(header["EXPTIME"] - exposure) < 0.001 and header["GAIN"] == gain and header["OFFSET"] == offset
    assert header["IMAGETYP"] == "Light Frame" and header["FRAMENO"] >= 0
    start = datetime.datetime.fromisoformat(header["DATE-OBS"]).replace(tzinfo=datetime.timezone.utc)
    assert abs((datetime.datetime.now(datetime.timezone.utc) - start).total_seconds()) < 60
    # The pixels: the same flat field (its vignetting and level) as the SDK's frame.
    ours, theirs = block_means(data), block_means(np.asarray(reference))
    assert abs(ours.mean() - theirs.mean()) < 0.1 * theirs.mean() + 2, (ours.mean(), theirs.mean())
    assert np.corrcoef(ours.ravel(), theirs.ravel())[0, 1] > 0.8
    # Aligned, not off by a block: the vignetting differs more between neighbouring blocks.
    aligned = np.abs(ours - theirs).mean()
    shifted = np.abs(ours[1:, 1:] - theirs[:-1, :-1]).mean()
    assert aligned < 0.4 * shifted, (aligned, shifted)
    verify = server.run("fitsverify", "-q", os.path.join(server.dir, "light.fits"), check=False)
    assert "OK" in verify.stdout + verify.stderr, verify.stdout + verify.stderr
    server.set(device, "CCD_BINNING", "HOR_BIN;VER_BIN", "1;1")
    max_x, max_y = (server.value(device, "CCD_INFO", e) for e in ("CCD_MAX_X", "CCD_MAX_Y"))
    server.set(device, "CCD_FRAME", "X;Y;WIDTH;HEIGHT", f"0;0;{max_x};{max_y}")


def test_dark_with_capped_lens(server):
    device = MONO
    light, _ = server.expose(device, 0.02, "lit.fits")
    server.plug("sensor 3 light=0")
    time.sleep(0.6)  # the control file is read as hot-plug is polled
    server.set(device, "CCD_FRAME_TYPE", "FRAME_DARK", "On")
    dark, _ = server.expose(device, 0.02, "dark.fits")
    assert dark.header["IMAGETYP"] == "Dark Frame"
    assert dark.data.mean() < 0.5 * light.data.mean(), (dark.data.mean(), light.data.mean())
    server.set(device, "CCD_FRAME_TYPE", "FRAME_LIGHT", "On")
    server.plug("sensor 3 light=1")


def test_sixteen_bits(server):
    server.set(COOLED, "CCD_CAPTURE_FORMAT", "EZ_RAW16", "On")
    server.wait_for("16-bit", lambda: server.value(COOLED, "CCD_INFO", "CCD_BITSPERPIXEL") == "16")
    hdu, _ = server.expose(COOLED, 0.01, "deep.fits")
    assert hdu.header["BITPIX"] == 16 and hdu.data.max() > 255
    server.set(COOLED, "CCD_CAPTURE_FORMAT", "EZ_RAW8", "On")


def test_cooler(server):
    def temperature():
        return float(server.value(COOLED, "CCD_TEMPERATURE", "CCD_TEMPERATURE_VALUE"))

    server.set(COOLED, "CCD_COOLER", "COOLER_OFF", "On")
    server.wait_for("cooler off", lambda: server.value(COOLED, "CCD_COOLER", "COOLER_OFF") == "On")
    # Watched for three seconds, the temperature changes at most once a second.
    watch = server.run("indi_getprop", "-p", str(server.port), "-m", "-t", "3",
                       f"{COOLED}.CCD_TEMPERATURE.CCD_TEMPERATURE_VALUE", check=False)
    updates = [line for line in watch.stdout.splitlines() if "CCD_TEMPERATURE_VALUE" in line]
    assert 1 <= len(updates) <= 5, updates
    before = temperature()
    server.set(COOLED, "CCD_TEMPERATURE", "CCD_TEMPERATURE_VALUE", str(before - 20))
    server.wait_for("cooler on", lambda: server.value(COOLED, "CCD_COOLER", "COOLER_ON") == "On")
    server.wait_for("cooling", lambda: temperature() < before - 0.9, timeout=15)
    hdu, _ = server.expose(COOLED, 0.01, "cooled.fits")
    assert abs(hdu.header["CCD-TEMP"] - temperature()) < 3, (hdu.header["CCD-TEMP"], temperature())
    server.set(COOLED, "CCD_COOLER", "COOLER_OFF", "On")


def test_stream(server):
    device, frames = QC500, 12
    server.set(device, "CCD_BINNING", "HOR_BIN;VER_BIN", "2;2")
    server.set(device, "CCD_FRAME", "X;Y;WIDTH;HEIGHT", "400;300;800;600")
    server.wait_for("the region", lambda: server.state(device, "CCD_FRAME") == "Ok")
    width = int(server.value(device, "CCD_FRAME", "WIDTH")) // 2
    height = int(server.value(device, "CCD_FRAME", "HEIGHT")) // 2
    result = server.client("stream", device, str(frames), "20", timeout=20 * SLOW)
    lines = dict(line.split() for line in result.stdout.splitlines())
    assert int(lines["frames"]) >= frames and int(lines["bytes"]) == width * height, (result.stdout, width, height)
    assert "error" not in result.stderr.lower(), result.stderr
    assert server.value(device, "CCD_VIDEO_STREAM", "STREAM_OFF") == "On"
    server.set(device, "CCD_BINNING", "HOR_BIN;VER_BIN", "1;1")


def test_disconnect_while_streaming(server):
    device = QC500
    server.set(device, "CCD_VIDEO_STREAM", "STREAM_ON", "On")
    server.wait_for("the stream", lambda: server.value(device, "CCD_VIDEO_STREAM", "STREAM_ON") == "On")
    time.sleep(0.5)
    server.set(device, "CONNECTION", "DISCONNECT", "On")
    server.wait_for("the disconnection", lambda: not server.value(device, "CCD_EXPOSURE", "CCD_EXPOSURE_VALUE"))
    server.connect(device)
    assert server.value(device, "CCD_VIDEO_STREAM", "STREAM_OFF") == "On"
    hdu, _ = server.expose(device, 0.02, "reconnected.fits")
    assert hdu.data.size > 0


def test_raw_recording(server):
    device = QC500
    server.run("indi_setprop", "-p", str(server.port), f"{device}.EZ_RAW_RECORD_FILE.DIR={server.dir}")
    server.run("indi_setprop", "-p", str(server.port), f"{device}.EZ_RAW_RECORD_FILE.FORMAT=fits")
    watcher = subprocess.Popen([CLIENT, str(server.port), "watch", "4"], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    time.sleep(0.5)
    server.set(device, "EZ_RAW_RECORD", "RECORD_ON", "On")
    server.wait_for("recording", lambda: server.state(device, "EZ_RAW_RECORD") == "Busy")
    time.sleep(1.5)
    server.set(device, "EZ_RAW_RECORD", "RECORD_OFF", "On")
    server.wait_for("the recording's end", lambda: server.state(device, "EZ_RAW_RECORD") == "Ok")
    _, messages = watcher.communicate(timeout=20 * SLOW)
    ends = [line for line in messages.splitlines() if "Recorded" in line]
    assert ends, messages
    recorded = int(ends[0].split("Recorded ")[1].split()[0])
    path = ends[0].split(" frames to ")[1].split(" (")[0]
    width = int(server.value(device, "CCD_FRAME", "WIDTH"))
    height = int(server.value(device, "CCD_FRAME", "HEIGHT"))
    with fits.open(path) as hdus:
        cube = hdus[0]
        assert cube.header["NAXIS3"] == recorded >= 3, (cube.header["NAXIS3"], recorded)
        assert (cube.header["NAXIS1"], cube.header["NAXIS2"]) == (width, height)
    # An exposure is refused while recording, and works again after it.
    hdu, _ = server.expose(device, 0.02, "after_recording.fits")
    assert hdu.data.shape == (height, width)


def test_abort(server):
    device = MONO
    exposure = subprocess.Popen([CLIENT, str(server.port), "expose", device, "3",
                                 os.path.join(server.dir, "aborted.fits"), "20"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    server.wait_for("the exposure", lambda: server.state(device, "CCD_EXPOSURE") == "Busy")
    started = time.monotonic()
    server.set(device, "CCD_ABORT_EXPOSURE", "ABORT", "On")
    out, err = exposure.communicate(timeout=STEP_TIMEOUT)
    assert exposure.returncode != 0 and time.monotonic() - started < 2, (out, err)
    assert not os.path.exists(os.path.join(server.dir, "aborted.fits"))
    # The next exposure follows as soon as the camera has ended the aborted one.
    hdu, _ = server.expose(device, 0.02, "after_abort.fits")
    assert time.monotonic() - started < 5 and hdu.data.size > 0


def test_refusal_is_an_alert(server):
    device = MONO
    kept = int(server.value(device, "CCD_CONTROLS", "Offset"))
    watcher = subprocess.Popen([CLIENT, str(server.port), "watch", "3"], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    time.sleep(1)
    server.set(device, "CCD_CONTROLS", "Offset", "100000")  # beyond the camera's black levels
    _, messages = watcher.communicate(timeout=20 * SLOW)
    assert server.state(device, "CCD_CONTROLS") == "Alert", server.get(f"{device}.CCD_CONTROLS.*")
    refusals = [line for line in messages.splitlines() if device in line and "[ERROR]" in line]
    assert any("black level" in line and "EZ_ERANGE" in line for line in refusals), messages
    # What the camera kept is shown, not what was asked.
    assert int(server.value(device, "CCD_CONTROLS", "Offset")) == kept


def test_hotplug(server):
    watcher = subprocess.Popen([CLIENT, str(server.port), "watch", "8"], stdout=subprocess.PIPE, text=True)
    time.sleep(1)
    # Pulled out during an exposure: the exposure fails with the SDK's word, the device goes.
    exposure = subprocess.Popen([CLIENT, str(server.port), "expose", COOLED, "4",
                                 os.path.join(server.dir, "never.fits"), "20"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(1.5)
    server.plug("unplug 2")
    server.plug("plug 0547:c00a")
    out, err = exposure.communicate(timeout=STEP_TIMEOUT)
    assert exposure.returncode != 0 and "unplugged" in err, (out, err)
    events, _ = watcher.communicate(timeout=20 * SLOW)
    assert f"removed {COOLED}" in events.splitlines(), events
    new = [line[4:] for line in events.splitlines() if line.startswith("new ") and "Norvan M15" in line]
    assert "ezcam Norvan M15 1" in new, events
    # The new device works; the others were not disturbed.
    server.connect("ezcam Norvan M15 1")
    hdu, _ = server.expose("ezcam Norvan M15 1", 0.02, "arrived.fits")
    assert hdu.data.size > 0
    assert server.value(QC500, "CONNECTION", "CONNECT") == "On"
    assert not server.get(f"{COOLED}.CONNECTION.CONNECT")


def main():
    if not shutil.which("indiserver") or not shutil.which("indi_setprop"):
        print("indiserver is not installed (indi-bin): the INDI driver's tests are skipped")
        return 0
    cases = [test_devices_and_properties, test_light_frame_matches_sdk, test_dark_with_capped_lens,
             test_sixteen_bits, test_cooler, test_stream, test_disconnect_while_streaming,
             test_raw_recording, test_abort, test_refusal_is_an_alert, test_hotplug]
    server = Server()
    failed = []
    try:
        for case in cases:
            started = time.monotonic()
            try:
                case(server)
                print(f"ok   {case.__name__} ({time.monotonic() - started:.1f} s)", flush=True)
            except Exception as error:  # report every case, then fail
                failed.append(case.__name__)
                print(f"FAIL {case.__name__}: {type(error).__name__}: {error}", flush=True)
    finally:
        server.stop()
    if failed:
        print("indiserver log:\n" + server.tail())
        return 1
    shutil.rmtree(server.dir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
