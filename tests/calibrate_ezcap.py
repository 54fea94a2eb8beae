#!/usr/bin/env python3
"""ezcap calibrate and measure-sensor on a simulated physical sensor: the
measured gain, read noise and dark current against the simulator's truth,
the masters read back by astropy with their header keys, the library's
listing, and the report's JSON and PNG files; darks and biases with the
lens covered and not, the question on a terminal (a pseudo-terminal here)
and --yes.

Usage: calibrate_ezcap.py PATH-TO-EZCAP
"""
import json
import os
import pty
import select
import subprocess
import sys
import tempfile
import time

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
    for plot in ("ptc", "linearity", "dark"):
        with open(f"{prefix}-{plot}.png", "rb") as f:
            check(f.read(8) == b"\x89PNG\r\n\x1a\n", f"{plot} plot is not a PNG")
    check("system gain K" in out, "no text report")

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
