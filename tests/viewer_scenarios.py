#!/usr/bin/python3
"""Scenarios of ezview as a user plays them: ezview on simulated cameras on a
virtual X display of its own, driven by real mouse and key events (xdotool).
The viewer keeps a map of where its controls are on the screen
(EZVIEW_WIDGET_MAP); the simulated bus follows a control file
(EZCAM_SIM_CONTROL) through which the scenario covers the lens or pulls the
camera out. Outcomes are checked outside the viewer: the files it writes, read
back with tifffile and astropy, and its log.

    viewer_scenarios.py EZVIEW SCENARIO     (SCENARIO: one of the names below, or all)

Every wait is for a condition, with a generous time-out: the machine may be slow.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import numpy as np

TIMEOUT = 90  # seconds for any one condition on a loaded machine
# The colour camera 0547:c004 at its resolution 2: a picture of 632 x 472
# from raw frames 8 pixels wider and higher (the sensor's border).
SMALL = 2
BORDER = 8
RAW_SHAPE = (472 + BORDER, 632 + BORDER)
FRAME_BYTES = RAW_SHAPE[0] * RAW_SHAPE[1]  # 8-bit samples


class Failure(Exception):
    pass


class Widget:
    def __init__(self, fields):
        self.window, self.kind, self.name, self.text = fields[:4]
        self.enabled = fields[4] == "1"
        self.x, self.y, self.w, self.h = map(int, fields[5:9])

    def centre(self):
        return self.x + self.w // 2, self.y + self.h // 2

    def __repr__(self):
        return "%s %s %r %r" % (self.window, self.kind, self.name, self.text)


class Session:
    """One ezview on its own X display, home directory and simulated bus."""

    def __init__(self, ezview, cameras="0547:c004", environment=None):
        self.work = tempfile.mkdtemp(prefix="ezview-scenario-")
        self.home = os.path.join(self.work, "home")
        self.captures = os.path.join(self.home, "Desktop")
        self.library = os.path.join(self.work, "masters")
        self.control_file = os.path.join(self.work, "control")
        self.map_file = os.path.join(self.work, "map")
        self.log_file = os.path.join(self.work, "log")
        os.makedirs(self.home)
        open(self.control_file, "w").close()
        self.log_mark = 0
        self.xvfb = None
        self.viewer = None
        self.display = self._start_display()
        env = dict(os.environ)
        for name in ("QT_QPA_PLATFORM", "XDG_DOCUMENTS_DIR", "XDG_DESKTOP_DIR", "EZCAM_SIM_PACE"):
            env.pop(name, None)
        env.update(DISPLAY=self.display, HOME=self.home,
                   XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                   XDG_DATA_HOME=os.path.join(self.home, ".local", "share"),
                   XDG_RUNTIME_DIR=self.work, EZCAM_CALIBRATION_DIR=self.library,
                   EZCAM_SIM_CONTROL=self.control_file, EZVIEW_WIDGET_MAP=self.map_file,
                   EZCAM_LOG="info")  # the bus says what it carried out
        if environment:  # what the scenario's camera shows, in files of the session's own
            env.update(environment(self.work))
        if env.get("ASAN_OPTIONS"):  # see viewer_end_to_end.sh
            env["ASAN_OPTIONS"] += ":strict_string_checks=0"
        self.env = env
        args = [ezview, "--simulate", cameras, "-geometry", "1200x850+0+0"]
        self.viewer = subprocess.Popen(args, env=env, stdout=open(self.log_file, "wb"),
                                       stderr=subprocess.STDOUT)
        self.wait(lambda: self.find(name="btnLive", enabled=True), "the camera to be loaded")

    def _start_display(self):
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x960x24", "-nolisten", "tcp"],
            pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        with os.fdopen(read, "rb") as pipe:
            number = pipe.readline().strip()
        if not number:
            raise Failure("Xvfb did not start")
        return ":" + number.decode()

    # ---- what the viewer shows and says ------------------------------------

    def widgets(self):
        try:
            with open(self.map_file, encoding="utf-8") as f:
                lines = f.read().splitlines()
        except FileNotFoundError:
            return []
        return [Widget(line.split("\t")) for line in lines if line.count("\t") == 8]

    def find(self, window=None, kind=None, name=None, text=None, enabled=None):
        """The first control that matches; text is a regular expression."""
        for w in self.widgets():
            if window is not None and w.window != window:
                continue
            if kind is not None and w.kind != kind:
                continue
            if name is not None and w.name != name:
                continue
            if text is not None and not re.fullmatch(text, w.text):
                continue
            if enabled is not None and w.enabled != enabled:
                continue
            return w
        return None

    def log(self):
        with open(self.log_file, encoding="utf-8", errors="replace") as f:
            return f.read()

    def mark(self):
        """Later log waits look only at what the viewer says from now on."""
        self.log_mark = len(self.log())

    def said(self, pattern):
        match = re.search(pattern, self.log()[self.log_mark:])
        return match

    def wait(self, condition, what, timeout=TIMEOUT):
        end = time.monotonic() + timeout
        while True:
            if self.viewer is not None and self.viewer.poll() is not None:
                raise Failure("ezview ended (status %s) while waiting for %s"
                              % (self.viewer.returncode, what))
            result = condition()
            if result:
                return result
            if time.monotonic() > end:
                raise Failure("timed out waiting for " + what)
            time.sleep(0.1)

    def wait_log(self, pattern, what=None):
        return self.wait(lambda: self.said(pattern), what or "the viewer to say " + pattern)

    def wait_widget(self, what=None, **match):
        return self.wait(lambda: self.find(**match), what or "a control %s" % match)

    # ---- input, as a user gives it ---------------------------------------------

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, check=True)

    def click(self, what=None, **match):
        """Clicks the centre of the control once it is there and enabled."""
        match.setdefault("enabled", True)
        w = self.wait_widget(what, **match)
        x, y = w.centre()
        self.xdotool("mousemove", x, y, "click", 1)
        return w

    def key(self, *keys):
        self.xdotool("key", "--delay", 50, *keys)

    def type(self, text):
        self.xdotool("type", "--delay", 30, text)

    def drag(self, start, end, modifier="shift"):
        """Drags with the left button from start to end, the modifier (if any) held."""
        self.xdotool("mousemove", *start)
        self.xdotool(*(["keydown", modifier] if modifier else []), "mousedown", 1)
        for step in range(1, 11):
            self.xdotool("mousemove", start[0] + (end[0] - start[0]) * step // 10,
                         start[1] + (end[1] - start[1]) * step // 10)
            time.sleep(0.02)
        self.xdotool("mouseup", 1, *(["keyup", modifier] if modifier else []))

    def choose(self, combo_name, index):
        """Opens a list and picks the entry at `index` with the keys."""
        self.click(name=combo_name)
        self.wait(lambda: self.find(kind="QComboBoxPrivateContainer"), "the list to open")
        self.key("Home", *(["Down"] * index), "Return")

    def fill(self, name, text):
        """Types into a text field, replacing what it holds, and presses Enter."""
        self.click(name=name)
        self.wait(lambda: self.focus_is(name), "the focus in " + name)
        self.key("ctrl+a")
        self.type(text)
        self.key("Return")

    def focus_is(self, name):
        """Whether the control of that name has the keyboard focus."""
        try:
            with open(self.map_file, encoding="utf-8") as f:
                for line in f:
                    if line.startswith("focus\t"):
                        return line.rstrip("\n").split("\t")[2] == name
        except FileNotFoundError:
            pass
        return False

    def control(self, line):
        """A line for the simulated bus: plug, unplug or the sensor's
        properties; returns once the bus says it carried it out."""
        start = len(self.log())
        with open(self.control_file, "a") as f:
            f.write(line + "\n")
        self.wait(lambda: "EZCAM_SIM_CONTROL: " + line in self.log()[start:],
                  "the simulated bus to carry out " + line)

    # ---- common steps -----------------------------------------------------------

    def live_text(self):
        w = self.find(name="btnLive")
        return w.text if w else ""

    def start_live(self):
        self.mark()
        self.click(name="btnLive", text="Live")
        self.wait(lambda: self.live_text() == "Stop", "live view to start")
        self.wait_frames()

    def stop_live(self):
        self.click(name="btnLive", text="Stop")
        self.wait(lambda: self.live_text() == "Live", "live view to stop")

    def wait_frames(self):
        """Frames arrive: the frame rate readout, empty at the start, shows a rate."""
        self.wait_widget("frames to arrive", name="txtFPS", text=r"[0-9.]+ fps")

    def small_resolution(self):
        self.click(kind="tab", text="Sensor")
        self.choose("pouRes", SMALL)
        self.wait(lambda: self.find(name="pouRes", text="632X472"), "the small resolution")

    def manual_exposure(self, milliseconds):
        """Automatic exposure off, and an exposure typed in."""
        self.click(kind="tab", text="Sensor")
        if self.find(name="txtTime", enabled=False):
            self.click(name="chkAE")
            self.wait_widget("the exposure field", name="txtTime", enabled=True)
        self.fill("txtTime", "%g ms" % milliseconds)
        self.wait(lambda: abs(self.exposure() - milliseconds) < max(0.05 * milliseconds, 0.2),
                  "the exposure %g ms" % milliseconds)

    def exposure(self):
        """The exposure the field shows once the camera took it (ms); NaN meanwhile."""
        field = self.find(name="txtTime")
        try:
            return float(field.text)
        except (AttributeError, ValueError):
            return float("nan")

    def raw_setup(self, container, length, unit):
        self.choose("pouRawFormat", ["ome-tiff", "fits", "fits-frames", "ser"].index(container))
        self.wait(lambda: self.find(name="pouRawFormat", text=container), container)
        self.click(name="spnRawLength")
        self.wait(lambda: self.focus_is("spnRawLength"), "the focus in the length")
        self.key("ctrl+a")
        self.type(str(length))
        self.key("Tab")
        self.wait(lambda: self.find(name="spnRawLength", text=str(length)), "the length %d" % length)
        self.choose("pouRawUnit", ["frames", "seconds"].index(unit))

    def record_raw(self):
        """Starts a raw recording; the file it writes."""
        self.mark()
        self.click(name="btnRaw", text="Record Raw")
        started = self.wait_log(r"Recording raw frames to (\S+)")
        return started.group(1)

    def recording_ended(self):
        """Waits for the end of the raw recording; the viewer's summary."""
        return self.wait_log(r"Raw recording: [^\n]*").group(0)

    def quit(self):
        """Ctrl+Q, as a user quits; the viewer must end by itself, and cleanly."""
        if self.viewer.poll() is None:
            self.click(name="pView", enabled=None)
            self.key("ctrl+q")
            try:
                self.viewer.wait(TIMEOUT)
            except subprocess.TimeoutExpired:
                raise Failure("ezview did not quit on Ctrl+Q")
        if self.viewer.returncode != 0:
            raise Failure("ezview ended with status %d" % self.viewer.returncode)

    def close(self, keep):
        if self.viewer is not None and self.viewer.poll() is None:
            self.viewer.send_signal(signal.SIGTERM)
            try:
                self.viewer.wait(30)
            except subprocess.TimeoutExpired:
                self.viewer.kill()
        if self.xvfb is not None:
            self.xvfb.terminate()
            self.xvfb.wait()
        if not keep:
            shutil.rmtree(self.work, ignore_errors=True)


def check(condition, what):
    if not condition:
        raise Failure(what)


# ---- readers, independent of the viewer -------------------------------------------


def ome_frames(path):
    """Frames and per-plane exposures of an OME-TIFF recording."""
    import tifffile

    with tifffile.TiffFile(path) as tif:
        check(tif.is_ome, path + " has no OME-XML")
        frames = tif.series[0].asarray()
        xml = tif.ome_metadata
    if frames.ndim == 2:
        frames = frames[np.newaxis]
    exposures = [float(e) for e in re.findall(r'<Plane [^>]*ExposureTime="([^"]+)"', xml)]
    return frames, exposures


def fits_recording(path):
    """The cube, its header and its FRAMES table of a FITS recording."""
    from astropy.io import fits

    with fits.open(path) as hdus:
        return hdus[0].data.copy(), hdus[0].header.copy(), hdus["FRAMES"].data.copy()


# ---- the scenarios -------------------------------------------------------------------


def scenario_dark_then_live(s):
    """A dark asked for with live view stopped, refused while the lens is
    not covered, taken once it is covered when asked; then live view again,
    with frames, and a raw recording that has them. Then a dark taken while
    live: live view goes on."""
    s.small_resolution()
    s.manual_exposure(20)
    s.start_live()
    s.stop_live()

    def take_dark(cover=True):
        s.click(kind="tab", text="Image")
        s.click(name="btnCalib")
        s.click(window="Calibration", text="Take dark")
        s.wait_widget("the question to cover the lens", window="Cover the lens", kind="QMessageBox")
        if cover:
            s.control("sensor 1 light=0")
        s.mark()
        s.click(window="Cover the lens", text="&?OK")
        if not cover:
            return s.wait_log(r"Dark refused[^\n]*light[^\n]*").group(0)
        stored = s.wait_log(r"Master stored: (\S+\.fits)").group(1)
        s.control("sensor 1 light=1")  # and uncovered
        return stored

    # Forgotten to cover the lens: refused, and the camera's reason shown.
    before = s.live_text()
    refusal = take_dark(cover=False)
    s.wait_widget("the reason in the dialog", window="Calibration", name="txtOutcome",
                  text=re.escape(refusal))
    s.wait(lambda: s.live_text() == before, "live view as it was before the dark (%s)" % before)
    dark = take_dark()
    s.wait(lambda: s.live_text() == before, "live view as it was before the dark (%s)" % before)
    from astropy.io import fits

    with fits.open(dark) as hdus:
        header, data = hdus[0].header, hdus[0].data
    check(header["NCOMBINE"] == 16, "the dark combines %s frames" % header["NCOMBINE"])
    check(abs(header["EXPTIME"] - 0.020) < 0.001, "the dark's exposure %s s" % header["EXPTIME"])
    check(data.shape == RAW_SHAPE, "the dark's shape %s" % (data.shape,))
    s.click(window="Calibration", text="Close")
    s.wait(lambda: not s.find(window="Calibration"), "the dialog to close")

    # Live again: frames arrive, and a recording has them.
    s.start_live()
    s.raw_setup("ome-tiff", 10, "frames")
    path = s.record_raw()
    summary = s.recording_ended()
    check("10 frames in" in summary, summary)
    frames, exposures = ome_frames(path)
    check(frames.shape == (10,) + RAW_SHAPE, "recorded %s" % (frames.shape,))
    check(data.mean() < 0.5 * frames.mean(), "the dark (mean %.1f) is no darker than the live "
          "frames (mean %.1f)" % (data.mean(), frames.mean()))

    # A dark while live: taken from the live frames, and live view goes on.
    take_dark()
    check(s.live_text() == "Stop", "live view stopped for the dark")
    s.click(window="Calibration", text="Close")
    s.raw_setup("ome-tiff", 5, "frames")
    path = s.record_raw()
    summary = s.recording_ended()
    check("5 frames in" in summary, summary)
    check(ome_frames(path)[0].shape == (5,) + RAW_SHAPE, "recorded after the live dark: " + summary)
    s.quit()


def wait_growth(s, path, frames, frame_bytes, what):
    """Waits until the recording's file holds `frames` more frames' bytes than now."""
    start = os.path.getsize(path) if os.path.exists(path) else 0
    s.wait(lambda: os.path.exists(path) and os.path.getsize(path) >= start + frames * frame_bytes,
           "%d more frames in %s (%s)" % (frames, path, what))


def scenario_exposure_while_recording(s):
    """A raw recording while the exposure is typed in anew: every frame in the
    file carries the exposure it was taken at, the old one and then the new."""
    s.small_resolution()
    s.manual_exposure(5)
    s.start_live()
    s.raw_setup("fits", 3600, "seconds")
    path = s.record_raw()
    wait_growth(s, path, 5, FRAME_BYTES, "at 5 ms")
    s.manual_exposure(25)
    wait_growth(s, path, 10, FRAME_BYTES, "at 25 ms")
    s.click(name="btnRaw", text="Stop Raw")
    summary = s.recording_ended()
    recorded = int(re.search(r"(\d+) frames in", summary).group(1))
    cube, header, table = fits_recording(path)
    check(cube.shape == (recorded,) + RAW_SHAPE, "cube %s, summary %r" % (cube.shape, summary))
    ms = np.array(table["EXPTIME"], dtype=float) * 1000  # seconds in FITS
    check(len(ms) == recorded, "%d rows for %d frames" % (len(ms), recorded))
    check(abs(ms[0] - 5) < 0.5 and abs(ms[-1] - 25) < 0.5, "exposures %s" % ms)
    changed = int(np.argmax(ms > 15))
    check(np.all(np.abs(ms[:changed] - 5) < 0.5) and np.all(np.abs(ms[changed:] - 25) < 0.5),
          "the exposure goes back and forth: %s" % ms)
    # The file's first bytes are its header: a frame fewer than its size says.
    check(changed >= 4 and recorded - changed >= 9, "frames at 5 ms: %d, at 25 ms: %d"
          % (changed, recorded - changed))
    s.quit()


def scenario_region_twice(s):
    """A region dragged with Shift on the picture, then a second one inside
    it: the second reaches the camera, and frames keep arriving at its size."""
    s.small_resolution()
    s.manual_exposure(10)
    s.start_live()
    regions = []
    for inset in (0.25, 0.3):
        view = s.find(name="pView")
        x0, y0 = view.x + int(view.w * inset), view.y + int(view.h * inset)
        x1, y1 = view.x + int(view.w * (1 - inset)), view.y + int(view.h * (1 - inset))
        s.mark()
        s.drag((x0, y0), (x1, y1))
        taken = s.wait_log(r"Region (\d+) × (\d+) at (\d+), (\d+)")
        regions.append(tuple(int(v) for v in taken.groups()))
        # The picture shows the region before the next one is drawn on it.
        s.wait(lambda: s.find(name="pView", text="%d × %d" % regions[-1][:2]),
               "the picture of the region %s" % (regions[-1],))
        s.wait_widget("the region in the status line", name="txtStatus",
                      text=r".*region %d × %d at %d, %d.*" % regions[-1])
    (w1, h1, x1, y1), (w2, h2, x2, y2) = regions
    check(w2 < w1 and h2 < h1, "the second region %s is not smaller than the first %s" % (regions[1], regions[0]))
    check(x1 <= x2 and y1 <= y2 and x2 + w2 <= x1 + w1 and y2 + h2 <= y1 + h1,
          "the second region %s lies outside the first %s" % (regions[1], regions[0]))
    # Frames keep arriving at the second region's size and place.
    s.raw_setup("fits", 5, "frames")
    path = s.record_raw()
    summary = s.recording_ended()
    check("5 frames in" in summary, summary)
    cube, header, table = fits_recording(path)
    # Raw frames carry the sensor's border around the region, as around the whole frame.
    check(cube.shape == (5, h2 + BORDER, w2 + BORDER), "recorded %s, region %s" % (cube.shape, regions[1]))
    check((header.get("XORGSUBF"), header.get("YORGSUBF")) == (x2, y2),
          "origin %s, %s, region %s" % (header.get("XORGSUBF"), header.get("YORGSUBF"), regions[1]))
    s.quit()


def scenario_resolution_while_recording(s):
    """Another resolution chosen while a raw recording runs: the recording
    ends there with a complete file of the first size, and says why; live
    view goes on at the new resolution."""
    s.small_resolution()
    s.manual_exposure(10)
    s.start_live()
    s.raw_setup("ome-tiff", 3600, "seconds")
    path = s.record_raw()
    wait_growth(s, path, 5, FRAME_BYTES, "before the change")
    s.choose("pouRes", 1)
    summary = s.recording_ended()
    check("resolution" in summary or "size" in summary, "no reason given: " + summary)
    recorded = int(re.search(r"(\d+) frames in", summary).group(1))
    frames, exposures = ome_frames(path)
    check(frames.shape == (recorded,) + RAW_SHAPE, "recorded %s, summary %r" % (frames.shape, summary))
    check(s.live_text() == "Stop", "live view ended with the recording")
    s.quit()


def scenario_unplug_while_recording(s):
    """The camera pulled out while a raw recording runs: the viewer goes on,
    the file is complete and the message says what happened; plugged in
    again, the camera is live again."""
    s.small_resolution()
    s.manual_exposure(10)
    s.start_live()
    s.raw_setup("ome-tiff", 3600, "seconds")
    path = s.record_raw()
    wait_growth(s, path, 5, FRAME_BYTES, "before the unplug")
    s.control("unplug 1")
    summary = s.recording_ended()
    check("unplugged" in summary, "no reason given: " + summary)
    recorded = int(re.search(r"(\d+) frames in", summary).group(1))
    frames, exposures = ome_frames(path)
    check(frames.shape == (recorded,) + RAW_SHAPE, "recorded %s, summary %r" % (frames.shape, summary))
    s.wait(lambda: s.live_text() == "Live", "live view to end")
    s.wait_widget("no camera", name="txtStatus", text="No camera")
    s.control("plug 0547:c004")
    s.wait_widget("the camera again", name="btnLive", text="Live", enabled=True)
    s.start_live()
    s.quit()


def scenario_still_while_stopped(s):
    """A still asked for while live view is stopped is taken at the next start."""
    s.small_resolution()
    s.manual_exposure(10)
    s.click(kind="QCheckBox", text="TIFF")  # the camera's formats, and TIFF
    s.mark()
    s.click(name="pView", enabled=None)
    s.key("c")
    base = s.wait_log(r"Still waits for the live view: (\S+)").group(1)
    check(not os.path.exists(base + ".tif"), "the still was written before live view started")
    s.key("space")
    s.wait(lambda: os.path.exists(base + ".tif") and os.path.getsize(base + ".tif") > 0,
           "the still " + base + ".tif")
    s.wait(lambda: s.live_text() == "Stop", "live view")
    image = s.wait(lambda: _read_tiff(base + ".tif"), "a whole TIFF still")[0]
    check(image.shape[:2] == (472, 632), "still of %s" % (image.shape,))
    s.quit()


# A sensor whose filters see a good deal of the other colours.
CHART_COLOUR = "0.70,0.25,0.05,0.15,0.75,0.10,0.05,0.30,0.65"


def chart_delta_e(image, dark):
    """CIEDE2000 of a linear still's 24 patches to the chart, the dark still
    of the same settings taken off and the rest scaled so that the neutral
    patches have the reference's luminance."""
    from skimage.color import deltaE_ciede2000, lab2xyz

    from chart_reference import SRGB_TO_XYZ, lab_of_linear, reference_lab_d65

    reference = reference_lab_d65()
    h, w = image.shape[:2]
    raw_w, raw_h = w + BORDER, h + BORDER
    means = []
    for p in range(24):
        c, r = p % 6, p // 6
        x0, x1, y0, y1 = 0.07 + 0.15 * c, 0.18 + 0.15 * c, 0.13 + 0.2 * r, 0.27 + 0.2 * r
        mx, my = (x1 - x0) / 4, (y1 - y0) / 4
        xs = slice(int((x0 + mx) * raw_w) - BORDER // 2, int((x1 - mx) * raw_w) - BORDER // 2)
        ys = slice(int((y0 + my) * raw_h) - BORDER // 2, int((y1 - my) * raw_h) - BORDER // 2)
        means.append((image[ys, xs].astype(float) - dark[ys, xs]).reshape(-1, 3).mean(axis=0))
    rgb = np.array(means)
    neutrals = slice(19, 23)
    rgb *= lab2xyz(reference[neutrals])[:, 1].sum() / (SRGB_TO_XYZ @ rgb[neutrals].T)[1].sum()
    return deltaE_ciede2000(reference, lab_of_linear(rgb))


def scenario_colour_calibration(s):
    """The colour chart calibrated from the Colour tab: refused while a raw
    recording takes the frames; Escape cancels the rectangle; a rectangle
    off the chart is refused with the reason; the
    chart's rectangle dragged on the picture and a name typed in store the
    profile, which is chosen, and a still taken afterwards shows the chart's
    colours close to the reference, much closer than before."""
    s.small_resolution()
    s.manual_exposure(25)
    s.click(kind="QCheckBox", text="TIFF")
    s.start_live()

    def still():
        # The button, not a key on the picture: two clicks there are a double click, which zooms.
        s.mark()
        s.click(name="btnSnap")
        path = s.wait_log(r"Still: (\S+)").group(1) + ".tif"
        image = s.wait(lambda: _read_tiff(path), "the still " + path)[0]
        os.remove(path)  # stills of the same second have the same name
        return image

    def chart_still():
        """A still of the chart, and one with the lens covered for its black."""
        light = still()
        s.control("sensor 1 light=0")
        dark = still()
        s.control("sensor 1 light=1")
        return chart_delta_e(light, dark)

    before = chart_still()
    s.click(kind="tab", text="Colour")

    def refused(reason):
        s.wait_widget("the refusal", name="dlgColourFailed")
        s.wait_widget("the reason", window="Colour calibration", name="qt_msgbox_label", text=reason)
        s.click(window="Colour calibration", kind="QPushButton", text="&?OK")
        s.wait(lambda: not s.find(name="dlgColourFailed"), "the refusal to close")

    # A raw recording has the frames.
    s.raw_setup("fits", 3600, "seconds")
    s.record_raw()
    s.click(name="btnCalibrateColour")
    refused(r"The camera is busy: a raw recording is running\.")
    s.click(name="btnRaw", text="Stop Raw")
    s.recording_ended()

    # Escape while the rectangle is asked for.
    s.mark()
    s.click(name="btnCalibrateColour")
    s.wait_log(r"Drag a rectangle over the colour chart")
    s.key("Escape")
    s.wait_log(r"Colour calibration cancelled")
    s.wait_widget("the button again", name="btnCalibrateColour", enabled=True)

    view = s.find(name="pView")
    # The picture, fitted and centred in the view.
    scale = min(view.w / 632, view.h / 472)
    left, top = view.x + (view.w - 632 * scale) / 2, view.y + (view.h - 472 * scale) / 2

    def at(fx, fy):
        return int(left + fx * 632 * scale), int(top + fy * 472 * scale)

    # A corner of the dark background: no chart there.
    s.mark()
    s.click(name="btnCalibrateColour")
    s.wait_log(r"Drag a rectangle over the colour chart")
    s.drag(at(0.005, 0.005), at(0.065, 0.12), modifier=None)
    s.wait_widget("the name of the profile", window="Colour profile", kind="QLineEdit")
    s.key("Return")
    refused(r"No colour chart.*")
    s.wait(lambda: s.live_text() == "Stop", "live view again after the refusal")

    # The chart, edge to edge, and a name of the user's.
    s.mark()
    s.click(name="btnCalibrateColour")
    s.wait_log(r"Drag a rectangle over the colour chart")
    s.drag(at(0.002, 0.002), at(0.998, 0.998), modifier=None)
    field = s.wait_widget("the name of the profile", window="Colour profile", kind="QLineEdit")
    check(field.text == "daylight", "the name offered: %r" % field.text)
    s.key("ctrl+a")
    s.type("halogen 10x")
    s.key("Return")
    number = r"([0-9]+\.[0-9]+)"
    said = s.wait_log(r"Colour profile 'halogen 10x' stored\. Colour difference \(CIEDE2000\) before: "
                      r"mean %s, max %s; after: mean %s, max %s" % ((number,) * 4))
    mean_before, _, mean_after, max_after = (float(v) for v in said.groups())
    check(mean_after < 2 and max_after < 6 and mean_after < mean_before / 2, "the fit: " + said.group(0))
    profiles = [os.path.join(d, f) for d, _, files in os.walk(s.env["EZCAM_COLOUR_DIR"]) for f in files]
    check([os.path.basename(p) for p in profiles] == ["halogen 10x.profile"], "profiles %s" % profiles)
    s.wait_widget("the profile chosen", name="cmbColourProfile", text="halogen 10x")
    s.wait_widget("the result", name="dlgColourResult")
    s.wait_widget("the differences", window="Colour calibration", name="qt_msgbox_label",
                  text=r".*before: mean .*after: mean .*")
    s.click(window="Colour calibration", kind="QPushButton", text="&?OK")
    s.wait(lambda: not s.find(name="dlgColourResult"), "the result to close")
    s.wait(lambda: s.live_text() == "Stop", "live view again after the calibration")
    s.wait_frames()

    after = chart_still()
    print("still against the chart: before mean %.2f max %.2f, after mean %.2f max %.2f"
          % (before.mean(), before.max(), after.mean(), after.max()))
    # 8-bit stills leave the dark patches a few steps of the converter.
    check(after.mean() < 2 and after.max() < 8, "the still after: mean %.2f, max %.2f" % (after.mean(), after.max()))
    check(after.mean() < before.mean() / 2, "before %.2f, after %.2f" % (before.mean(), after.mean()))
    s.quit()


def _read_tiff(path):
    import tifffile

    try:
        return [tifffile.imread(path)]
    except Exception:
        return None  # still being written


SCENARIOS = {
    "dark_then_live": scenario_dark_then_live,
    "exposure_while_recording": scenario_exposure_while_recording,
    "region_twice": scenario_region_twice,
    "resolution_while_recording": scenario_resolution_while_recording,
    "unplug_while_recording": scenario_unplug_while_recording,
    "still_while_stopped": scenario_still_while_stopped,
    "colour_calibration": scenario_colour_calibration,
}

# What a scenario's camera shows, where it is not the default scene.
ENVIRONMENTS = {
    "colour_calibration": lambda work: dict(EZCAM_SIM_SCENE="chart", EZCAM_SIM_COLOUR=CHART_COLOUR,
                                            EZCAM_COLOUR_DIR=os.path.join(work, "colour")),
}


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in list(SCENARIOS) + ["all"]:
        sys.exit(__doc__ + "\nscenarios: " + ", ".join(SCENARIOS))
    ezview, wanted = sys.argv[1], sys.argv[2]
    names = list(SCENARIOS) if wanted == "all" else [wanted]
    failed = 0
    for name in names:
        began = time.monotonic()
        session = None
        keep = bool(os.environ.get("KEEP"))
        try:
            session = Session(ezview, environment=ENVIRONMENTS.get(name))
            SCENARIOS[name](session)
            print("%s: passed in %.1f s" % (name, time.monotonic() - began))
        except Failure as failure:
            failed += 1
            keep = True
            print("%s: FAILED: %s" % (name, failure))
            if session:
                subprocess.run(["import", "-window", "root", os.path.join(session.work, "shot.png")],
                               env=session.env, check=False)
                print("  kept in " + session.work)
                print("".join("  ezview: " + line + "\n" for line in session.log().splitlines()[-40:]))
        finally:
            if session:
                session.close(keep)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
