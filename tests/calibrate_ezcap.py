#!/usr/bin/env python3
"""ezcap calibrate and measure-sensor on a simulated physical sensor: the
measured gain, read noise and dark current against the simulator's truth,
the masters read back by astropy with their header keys, the library's
listing, and the report: its JSON, its figures read back as XML (SVG) and
by a PNG decoder written here, drawn by rsvg-convert, and its HTML page; darks and biases with the
lens covered and not, the question on a terminal (a pseudo-terminal here)
and --yes.

Usage: calibrate_ezcap.py PATH-TO-EZCAP
"""
import html.parser
import json
import os
import pty
import select
import struct
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree
import zlib

from astropy.io import fits

ezcap = sys.argv[1]
failures = []


def fitsverify(path):
    """fitsverify finds neither an error nor a warning in the file."""
    run_ = subprocess.run(["fitsverify", "-q", path], capture_output=True, text=True)
    check(run_.returncode == 0 and "verification OK" in run_.stdout,
          "fitsverify: " + run_.stdout.strip())


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what, file=sys.stderr)


def environment(sensor):
    return dict(os.environ, EZCAM_SIM="0547:c00a", EZCAM_SIM_PACE="0", EZCAM_SIM_SCENE="flat",
                EZCAM_SIM_SENSOR=sensor, EZCAM_CALIBRATION_DIR=library)


def run(*args, sensor="on", code=0, resolution="2"):
    done = subprocess.run([ezcap, "resolution", resolution, "depth", "16", *args],
                          env=environment(sensor), capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)
    check(done.returncode == code, f"ezcap {' '.join(args)} exited {done.returncode}: {done.stderr}")
    return done.stdout + done.stderr


def on_terminal(*args, sensor, answer=None, code=0):
    """ezcap with a pseudo-terminal for standard input and error, as a user
    runs it. With `answer`, waits for the question, checks that nothing was
    taken before it is answered, then types the answer. Returns what the
    terminal showed and the standard output."""
    before = masters()
    leader, follower = pty.openpty()
    process = subprocess.Popen([ezcap, "resolution", "3", "depth", "16", *args],
                               env=environment(sensor), stdin=follower, stderr=follower,
                               stdout=subprocess.PIPE)
    os.close(follower)
    shown = b""
    answered = answer is None
    deadline = time.monotonic() + 120  # a guard against a hang, not a measure of speed
    while time.monotonic() < deadline:
        if not answered and b"press Enter" in shown:
            check(masters() == before, "a master taken before the question was answered")
            os.write(leader, answer)
            answered = True
        ready, _, _ = select.select([leader], [], [], 1)
        if not ready:
            continue
        try:
            chunk = os.read(leader, 4096)
        except OSError:  # the terminal's last user is gone
            break
        if not chunk:
            break
        shown += chunk
    try:
        out = process.communicate(timeout=max(deadline - time.monotonic(), 1))[0].decode()
    except subprocess.TimeoutExpired:
        process.kill()
        out = process.communicate()[0].decode()
        check(False, f"ezcap {' '.join(args)} on a terminal did not end: {shown!r}")
    os.close(leader)
    check(process.returncode == code,
          f"ezcap {' '.join(args)} on a terminal exited {process.returncode}: {shown!r}")
    return shown.decode(errors="replace"), out


SVG = "{http://www.w3.org/2000/svg}"


def check_svg(path, x_unit, y_unit):
    """The figure parses as XML and has a title, labelled axes with units,
    tick values, a legend and a caption naming the camera."""
    texts = {}
    for element in ElementTree.parse(path).getroot().iter(SVG + "text"):
        texts.setdefault(element.get("class"), []).append("".join(element.itertext()))
    check(len(texts.get("title", [])) == 1, f"{path}: title {texts.get('title')}")
    check(any(x_unit in t for t in texts.get("axis-label x", [])), f"{path}: x axis {texts.get('axis-label x')}")
    check(any(y_unit in t for t in texts.get("axis-label y", [])), f"{path}: y axis {texts.get('axis-label y')}")
    check(len(texts.get("tick-label", [])) >= 6, f"{path}: tick values {texts.get('tick-label')}")
    check(len(texts.get("legend", [])) >= 2, f"{path}: legend {texts.get('legend')}")
    check("Norvan M15.0" in " ".join(texts.get("caption", [])), f"{path}: caption {texts.get('caption')}")


def check_png(path):
    """Decodes the PNG's chunks: signature, CRCs, and IDAT inflating to the
    size IHDR announces."""
    with open(path, "rb") as f:
        data = f.read()
    check(data[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is not a PNG")
    at, chunks, idat = 8, [], b""
    while at + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        crc, = struct.unpack(">I", data[at + 8 + length:at + 12 + length])
        check(zlib.crc32(kind + body) == crc, f"{path}: bad CRC in {kind}")
        chunks.append(kind)
        if kind == b"IHDR":
            width, height, bits, colour = struct.unpack(">IIBB", body[:10])
        if kind == b"IDAT":
            idat += body
        at += 12 + length
    check(chunks[0] == b"IHDR" and chunks[-1] == b"IEND", f"{path}: chunks {chunks}")
    channels = {0: 1, 2: 3, 4: 2, 6: 4}.get(colour, 1)
    check(len(zlib.decompress(idat)) == height * (1 + width * channels * bits // 8),
          f"{path}: pixel data does not match {width}x{height}")
    check(width >= 2000, f"{path}: {width} pixels wide, not print resolution")


class PageParts(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.tags, self.text = [], ""

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)

    def handle_data(self, data):
        self.text += data


def check_page(path):
    page = PageParts()
    with open(path, encoding="utf-8") as f:
        page.feed(f.read())
    check(page.tags.count("svg") == 3 and page.tags.count("table") >= 2,
          f"{path}: {page.tags.count('svg')} figures, {page.tags.count('table')} tables")
    for name in ("System gain K", "Read noise", "Full-well capacity", "Dark current", "Norvan M15.0"):
        check(name in page.text, f"{path}: no {name}")


def masters():
    return sorted(n for n in os.listdir(library) if n.endswith(".fits")) if os.path.isdir(library) else []


with tempfile.TemporaryDirectory() as work:
    library = os.path.join(work, "library")

    # Truth: k 0.5 DN/e at 12 bits and unity gain is 8 DN/e at 16 bits;
    # read noise 4 e-, dark current 20 e-/s at 25 C (an uncooled model).
    prefix = os.path.join(work, "sensor")
    out = run("measure-sensor", "--report", prefix)
    with open(prefix + ".json") as f:
        report = json.load(f)
    for key, truth in (("k_dn_per_e", 8.0), ("read_noise_e", 4.0), ("dark_current_e_per_s", 20.0)):
        check(abs(report[key] / truth - 1) < 0.05, f"{key} {report[key]} is not within 5 % of {truth}")
    # Full well from the plateau: 6000 e- of the well, less the few dark
    # electrons already in it.
    check(abs(report["full_well_e"] / 6000 - 1) < 0.01 and report["saturation_reached"],
          f"full well {report['full_well_e']} e- is not within 1 % of 6000")
    points = report["points"]
    check(len(points) >= 50, f"{len(points)} points in the default sweep")
    saturated = [p for p in points if p["saturated"]]
    check(1 <= len(saturated) <= len(points) // 5, f"{len(saturated)} of {len(points)} points saturated")
    steps = [b["exposure_ms"] - a["exposure_ms"] for a, b in zip(points, points[1:])]
    check(min(steps) > 0 and max(steps) < 1.2 * min(steps), f"exposures not evenly spread: steps {steps}")
    for figure, x_unit, y_unit in (("ptc", "(DN)", "(DN)"), ("linearity", "(ms)", "(%)"),
                                   ("dark", "(ms)", "(DN)")):
        check_svg(f"{prefix}-{figure}.svg", x_unit, y_unit)
        check_png(f"{prefix}-{figure}.png")
        # Drawn by a renderer of its own, at print size.
        rendered = subprocess.run(["rsvg-convert", "--zoom", "3", "--output", f"{prefix}-{figure}-rsvg.png",
                                   f"{prefix}-{figure}.svg"], capture_output=True, text=True)
        check(rendered.returncode == 0 and not rendered.stderr, f"rsvg-convert {figure}: {rendered.stderr}")
        check_png(f"{prefix}-{figure}-rsvg.png")
    check_page(prefix + ".html")
    check("system gain K" in out, "no text report")

    # Without light there is no saturation to find, and no report.
    out = run("measure-sensor", "--points", "6", "--report", prefix + "-dark-room", sensor="light=0", code=1)
    check("more light is needed" in out and not os.path.exists(prefix + "-dark-room.html"),
          "no light not refused: " + out)

    # Masters: a flat needs an offset first; then bias, dark, flat.
    out = run("calibrate", "flat", "--frames", "4", code=1)
    check("take one before the flat" in out, "a flat without an offset was not refused: " + out)
    run("exposure", "20", "calibrate", "dark", "--frames", "6", sensor="light=0")
    run("calibrate", "bias", "--frames", "6", sensor="light=0")
    run("exposure", "20", "calibrate", "flat", "--frames", "6", "--label", "10x")
    check(len(masters()) == 3, f"masters in the library: {masters()}")
    for name in masters():
        fitsverify(os.path.join(library, name))
        with fits.open(os.path.join(library, name)) as hdus:
            header, data = hdus[0].header, hdus[0].data
            check(data.dtype.kind == "f" and data.dtype.itemsize == 4, f"{name}: {data.dtype}")
            check(data.shape == (800, 1280), f"{name}: shape {data.shape}")
            for key in ("IMAGETYP", "INSTRUME", "DEVREL", "DEPTH", "GAIN", "BLKLEVEL", "EXPTIME",
                        "NCOMBINE", "DATE", "PIXCLOCK", "XBINNING"):
                check(key in header, f"{name}: no {key}")
            check(header["NCOMBINE"] == 6 and header["DEPTH"] == 16, f"{name}: {header!r}")
            # The camera keeps its index, in the header and in the file name.
            camera = header.get("INSTRUME", "")
            check(camera == header.get("CAMMODEL", "") + "0", f"{name}: INSTRUME {camera!r}")
            check(f"_{camera.replace(' ', '-')}_" in name, f"{name}: not named after {camera!r}")
            if name.startswith("flat"):
                check(abs(float(data.mean()) - 1) < 1e-3, f"flat mean {data.mean()}")
                check(header["FLATLABL"] == "10x", "flat label")
            if name.startswith("dark"):
                check(abs(header["EXPTIME"] - 0.02) < 1e-3, f"dark EXPTIME {header['EXPTIME']}")

    # Masters written before the camera's index was kept name the model in
    # INSTRUME and carry no CAMMODEL: they are still found and chosen.
    for name in masters():
        if name.startswith("dark"):
            with fits.open(os.path.join(library, name), mode="update") as hdus:
                header = hdus[0].header
                header["INSTRUME"] = header["CAMMODEL"]
                del header["CAMMODEL"]
    os.remove(os.path.join(library, "index.tsv"))

    # Which master applies at 50 ms, and why.
    out = run("exposure", "50", "calibrate", "list", "--label", "10x")
    check("scaled to" in out and "over the bias" in out, "no scaled dark in: " + out)
    check("flat: flat_" in out, "no flat chosen in: " + out)
    out = run("calibrate", "list", "--label", "40x")
    check("flat: - " in out, "a flat for another objective chosen: " + out)

    # A raw recording names the masters in force and keeps its samples raw.
    movie = os.path.join(work, "run.fits")
    run("exposure", "20", "calibrate", "on", "--label", "10x", "record", movie, "--frames", "2",
        "--format", "fits")
    with fits.open(movie) as hdus:
        header = hdus[0].header
        check(header.get("CALDARK", "").startswith("dark_") and
              header.get("CALFLAT", "").startswith("flat_"), f"masters not named: {header!r}")
        check(hdus[0].data.dtype.kind in "iu" or "BZERO" in header, "samples not raw")
    fitsverify(movie)

    # The lens left uncovered, and covered: a bias, a dark refused between
    # covered masters, the question on a terminal, --yes.
    library = os.path.join(work, "covering")
    out = run("calibrate", "bias", "--frames", "4", sensor="light=1", code=4, resolution="3")
    check("standard input is not a terminal, so nobody is asked to cover the lens" in out,
          "no word of the missing question: " + out)
    check("ezcap: Bias refused at frame 1, its frames show light: the centre is" in out and
          "cover the lens and take it again." in out, "lit bias not refused with its reason: " + out)
    check(masters() == [], f"a lit bias was stored: {masters()}")

    shown, out = on_terminal("calibrate", "bias", "--frames", "4", sensor="light=0", answer=b"\n")
    check("calibrate bias: cover the lens so that no light reaches the sensor, then press Enter" in shown,
          "no question on the terminal: " + shown)
    check(out.startswith("resolution") and "bias master: " in out, "no bias stored: " + out)
    check(len(masters()) == 1, f"masters after the bias: {masters()}")
    shown, out = on_terminal("exposure", "10", "calibrate", "dark", sensor="light=0", answer=b"\x04",
                             code=1)
    check("ezcap: no answer: no dark taken" in shown, "end of input not taken as no: " + shown)

    out = run("exposure", "10", "calibrate", "dark", "--frames", "4", sensor="light=1", code=4,
              resolution="3")
    check("ezcap: Dark refused at frame 1, its frames show light" in out, "lit dark not refused: " + out)
    shown, out = on_terminal("exposure", "10", "calibrate", "dark", "--frames", "4", "--yes",
                             sensor="light=0")
    check("press Enter" not in shown and "not a terminal" not in shown, "--yes still asked: " + shown)
    check("dark master: " in out, "covered dark not stored: " + out)
    check(len(masters()) == 2, f"masters after the dark: {masters()}")
    out = run("exposure", "20", "calibrate", "list", sensor="light=0", resolution="3")
    check("dark: dark_" in out and "the dark is scaled: the library has no dark of 19.97" in out,
          "the scaled dark not said plainly: " + out)

sys.exit(1 if failures else 0)
