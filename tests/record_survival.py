#!/usr/bin/python3
"""Recordings that keep what was written, read back by independent readers
(tifffile, astropy, and the SER reader below, written from the format's
description):

    record_survival.py EZCAP kill FORMAT [SEED]   ezcap record killed (SIGKILL) at random moments
    record_survival.py EZCAP cut FORMAT [SEED]    finished and killed files cut at random bytes
    record_survival.py EZCAP full FORMAT          a filesystem that fills up while recording

Every run uses the simulated 5-megapixel colour camera at its 640 x 480
resolution. Exits 0 when every check passed; the seed is printed so a
failure can be repeated.
"""
import glob
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import warnings

import numpy as np

EZCAP, ACTION, FORMAT = sys.argv[1:4]
SEED = int(sys.argv[4]) if len(sys.argv) > 4 else random.randrange(1 << 30)
EXTENSIONS = {"ome-tiff": ".ome.tif", "fits": ".fits", "fits-frames": ".fits", "ser": ".ser"}
WIDTH, HEIGHT = 640, 480
FRAME_BYTES = WIDTH * HEIGHT
ENV = dict(os.environ, EZCAM_SIM="0547:c004", EZCAM_SIM_PACE="1")
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what, file=sys.stderr)
    return condition


def fitsverify(name, what):
    """A repaired FITS file is one fitsverify finds neither an error nor a warning in."""
    run = subprocess.run(["fitsverify", "-q", name], capture_output=True, text=True)
    return check(run.returncode == 0 and "verification OK" in run.stdout,
                 what + ": fitsverify: " + run.stdout.strip())


def record_command(out, length):
    return [EZCAP, "resolution", "2", "record", out] + length + ["--format", FORMAT]


def repair(paths):
    """One ezcap for all: its commands run in order, -k goes on after one fails."""
    if not paths:
        return ""
    command = [EZCAP, "-k"]
    for path in paths:
        command += ["repair", path]
    run = subprocess.run(command, env=ENV, capture_output=True, text=True)
    return run.stdout + run.stderr


# ---- Readers -------------------------------------------------------------------------------

def read_ser(path):
    """Header, frames and, when the file holds one, the time trailer."""
    data = open(path, "rb").read()
    if len(data) < 178 or data[:14] != b"LUCAM-RECORDER":
        return None
    field = lambda at: int.from_bytes(data[at:at + 4], "little")
    width, height, depth, frames = field(26), field(30), field(34), field(38)
    size = width * height * (2 if depth > 8 else 1)
    whole = (len(data) - 178) // size
    stack = np.frombuffer(data, np.uint8, min(frames, whole) * size, 178)
    times = None
    if len(data) == 178 + frames * (size + 8):
        ticks = np.frombuffer(data, "<i8", frames, 178 + frames * size)
        times = (ticks - 621_355_968_000_000_000) * 100  # UTC nanoseconds
    return {"declared": frames, "whole": whole, "width": width, "height": height, "depth": depth,
            "frames": stack.reshape(-1, height, width), "times": times}


def read_fits(path, quiet):
    """astropy's view: the cube (or frame), the FRAMES table, and its warnings."""
    from astropy.io import fits
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        with fits.open(path) as hdus:
            out = {"data": np.array(hdus[0].data), "header": hdus[0].header.copy(),
                   "table": np.array(hdus["FRAMES"].data) if "FRAMES" in hdus else None}
    out["warnings"] = [str(w.message).splitlines()[0] for w in caught]
    if quiet:
        check(not out["warnings"], "%s: astropy warns %s" % (path, out["warnings"][:2]))
    return out


def fits_data_start(path):
    """Where the primary header ends: after the block of its END card."""
    data = open(path, "rb").read(2880 * 20)
    for card in range(0, len(data), 80):
        if data[card:card + 8] == b"END     ":
            return (card // 2880 + 1) * 2880
    return None


def read_tiff(path):
    """tifffile's view: the OME series and, read as a plain TIFF, every page."""
    import tifffile
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        with tifffile.TiffFile(path) as tif:
            xml = tif.ome_metadata if tif.is_ome else None
            series = tif.series[0].asarray() if xml and tif.series else None
        with tifffile.TiffFile(path, is_ome=False) as plain:
            ends = [p.dataoffsets[0] + p.databytecounts[0] for p in plain.pages]
            stack = plain.asarray(key=range(len(ends))) if ends else np.zeros((0, HEIGHT, WIDTH))
    out = {"xml": xml, "pages": len(ends), "page_ends": ends,
           "stack": np.array(stack).reshape(-1, HEIGHT, WIDTH)}
    if xml:
        out["size_t"] = int(re.search(r'SizeT="(\d+)"', xml).group(1))
        out["delta_t"] = [float(d) for d in re.findall(r'<Plane [^>]*DeltaT="([^"]+)"', xml)]
        out["series"] = series.reshape(-1, HEIGHT, WIDTH)
    return out


def iso_ns(text):
    import datetime
    text = text.decode() if isinstance(text, bytes) else text
    when = datetime.datetime.fromisoformat(text.rstrip("Z")).replace(tzinfo=datetime.timezone.utc)
    return round(when.timestamp() * 1e6) * 1000


def increasing(values):
    return len(values) < 2 or bool(np.all(np.diff(np.array(values, dtype=np.float64)) > 0))


# ---- What a file holds, as its reader sees it -------------------------------------------------

def contents(path, repaired):
    """declared: the frames the reader opens; whole: the frames whole in the
    bytes; times: their UTC times (ns) or relative times (s), if the file has
    them; stack: the frames as read."""
    name = os.path.basename(path)
    if FORMAT == "ser":
        ser = read_ser(path)
        if not check(ser is not None, name + ": no SER header"):
            return None
        check((ser["width"], ser["height"], ser["depth"]) == (WIDTH, HEIGHT, 8), name + ": geometry")
        check(ser["declared"] <= ser["whole"], name + ": declares more frames than it holds")
        if repaired:
            check(ser["times"] is not None, name + ": no time trailer after repair")
        times = list(ser["times"]) if ser["times"] is not None else None
        return {"declared": ser["declared"], "whole": ser["whole"], "times": times,
                "stack": ser["frames"][:ser["declared"]]}
    if FORMAT == "fits":
        fits = read_fits(path, quiet=repaired)
        start = fits_data_start(path)
        whole = (os.path.getsize(path) - start) // FRAME_BYTES
        declared = fits["header"]["NAXIS3"]
        check(fits["data"].shape == (declared, HEIGHT, WIDTH), name + ": cube %s" % (fits["data"].shape,))
        check(declared <= whole, name + ": declares more frames than it holds")
        times = None
        if fits["table"] is not None:
            table = fits["table"]
            check(len(table) == declared, name + ": %d table rows for %d frames" % (len(table), declared))
            check(increasing(table["FRAMENUM"]), name + ": FRAMENUM not increasing")
            times = [iso_ns(t) for t in table["DATE_END"]]
        elif repaired:
            check(False, name + ": no FRAMES table after repair")
        if repaired:
            fitsverify(path, name)
        return {"declared": declared, "whole": whole, "times": times, "stack": fits["data"]}
    if FORMAT == "ome-tiff":
        tiff = read_tiff(path)
        if not check(tiff["xml"] is not None, name + ": no OME-XML (%d pages)" % tiff["pages"]):
            return None
        declared = tiff["size_t"]
        check(declared <= tiff["pages"], name + ": SizeT %d of %d pages" % (declared, tiff["pages"]))
        check(len(tiff["delta_t"]) == declared, name + ": %d planes" % len(tiff["delta_t"]))
        check(np.array_equal(tiff["series"], tiff["stack"][:declared]), name + ": series differs from pages")
        if repaired:
            check(declared == tiff["pages"], name + ": SizeT %d of %d pages after repair" % (declared, tiff["pages"]))
        return {"declared": declared, "whole": tiff["pages"], "times": tiff["delta_t"],
                "stack": tiff["series"], "page_ends": tiff["page_ends"], "pages": tiff["stack"]}
    # fits-frames: every file of the pattern opens, in order.
    stem = path[:-len(".fits")]
    files = sorted(glob.glob(stem + "_*.fits"))
    stack, numbers, times = [], [], []
    for f in files:
        fits = read_fits(f, quiet=True)
        check(fits["data"].shape == (HEIGHT, WIDTH), os.path.basename(f) + ": shape")
        stack.append(fits["data"])
        numbers.append(fits["header"]["FRAMENUM"])
        times.append(iso_ns(fits["header"]["DATE-END"]))
        if repaired:
            fitsverify(f, os.path.basename(f))
    check(files == [stem + "_%06d.fits" % (i + 1) for i in range(len(files))], name + ": files not numbered 1..n")
    check(increasing(numbers), name + ": FRAMENUM not increasing")
    parts = glob.glob(stem + "_*.part")
    check(len(parts) <= 1 and not (repaired and parts), name + ": left %s" % parts)
    return {"declared": len(files), "whole": len(files), "times": times,
            "stack": np.array(stack) if stack else np.zeros((0, HEIGHT, WIDTH))}


def check_times(name, times, window):
    if not check(times is not None and increasing(times), name + ": times not increasing"):
        return
    if FORMAT != "ome-tiff":  # OME planes count from the first; the others are UTC
        check(all(window[0] <= t <= window[1] for t in times), name + ": times outside the run")


# ---- Kill ------------------------------------------------------------------------------------

def kill_test(work):
    runs = 8
    rng = random.Random(SEED)
    # The kills fall from 0.1 s to 3 s after the first frame could have been
    # written: how long a recorder takes to get there is measured here, with
    # as many running at once as the kills will see, so that a loaded
    # machine moves the kills rather than leaving every run without a frame.
    probes = [subprocess.Popen(record_command(os.path.join(work, "probe%d" % i + EXTENSIONS[FORMAT]),
                                              ["--frames", "1"]), env=ENV,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
              for i in range(runs)]
    t0 = time.monotonic()
    for proc in probes:
        proc.wait()
    startup = time.monotonic() - t0
    delays = sorted(startup + rng.uniform(0.1, 3.0) for _ in range(runs))
    procs = []
    start_ns = time.time_ns()
    for i in range(runs):
        out = os.path.join(work, "run%d" % i + EXTENSIONS[FORMAT])
        procs.append((out, subprocess.Popen(record_command(out, ["--seconds", "60"]), env=ENV,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)))
    t0 = time.monotonic()
    killed_ns = []
    for (out, proc), delay in zip(procs, delays):
        time.sleep(max(0.0, delay - (time.monotonic() - t0)))
        proc.send_signal(signal.SIGKILL)
        killed_ns.append(time.time_ns())
    for _, proc in procs:
        proc.wait()
    kept = []
    for (out, _), delay, end_ns in zip(procs, delays, killed_ns):
        name = "%s killed at %.2f s" % (os.path.basename(out), delay)
        if not os.path.exists(out if FORMAT != "fits-frames" else out[:-5] + "_000001.fits"):
            continue  # killed before its first frame
        before = contents(out, repaired=False)
        if before is None:
            continue
        targets = [out] if FORMAT != "fits-frames" else glob.glob(out[:-5] + "_*.part")
        print(repair(targets).strip())
        after = contents(out, repaired=True)
        if after is None:
            continue
        kept_frames = after["declared"]
        if FORMAT in ("ser", "fits"):
            # Each frame is declared before its samples go in: every frame
            # declared is kept but the one being written, if it was cut.
            check(before["declared"] - 1 <= kept_frames <= before["declared"],
                  name + ": %d frames after repair, %d declared" % (kept_frames, before["declared"]))
        else:
            # Every page (file) that was whole is kept.
            check(kept_frames == before["whole"],
                  name + ": %d frames after repair, %d were whole" % (kept_frames, before["whole"]))
        same = min(kept_frames, before["declared"])
        check(np.array_equal(after["stack"][:same], before["stack"][:same]), name + ": repair changed the frames")
        check_times(name, after["times"], (start_ns - 10**9, end_ns + 10**9))
        # The OME-XML is brought up to date once a second: at most the last
        # second's pages (and a little more on a loaded machine) are not in
        # it. The frame rate comes from the frames' times.
        rate = 34.0
        if after["times"] and len(after["times"]) > 2:
            span = (after["times"][-1] - after["times"][0]) * (1e-9 if FORMAT != "ome-tiff" else 1)
            rate = (len(after["times"]) - 1) / span if span > 0 else rate
        check(before["declared"] >= before["whole"] - int(1.5 * rate) - 2,
              name + ": declared %d of %d whole frames (%.0f frames/s)" %
              (before["declared"], before["whole"], rate))
        kept.append((before["declared"], before["whole"]))
        leftovers = glob.glob(out + ".journal") + glob.glob(out[:-5] + "_*.part")
        check(not leftovers, name + ": left %s after repair" % leftovers)
    print("kills of %s: declared/whole frames %s" % (FORMAT, kept))
    check(len(kept) >= runs // 2, "only %d of %d runs wrote a frame" % (len(kept), runs))


# ---- Cut -------------------------------------------------------------------------------------

def frame_ends(path, info):
    """The byte after each whole frame of a file as its reader found it."""
    if FORMAT == "ser":
        return [178 + (i + 1) * FRAME_BYTES for i in range(info["declared"])]
    if FORMAT == "fits":
        start = fits_data_start(path)
        return [start + (i + 1) * FRAME_BYTES for i in range(info["declared"])]
    return info["page_ends"]  # every page linked, in the OME-XML or not yet


def cut_test(work):
    rng = random.Random(SEED)
    sources = []
    # A finished recording, and one killed while it ran (with its journal).
    finished = os.path.join(work, "finished" + EXTENSIONS[FORMAT])
    subprocess.run(record_command(finished, ["--frames", "30"]), env=ENV, check=True,
                   stdout=subprocess.DEVNULL)
    sources.append((finished, False))
    killed = os.path.join(work, "killed" + EXTENSIONS[FORMAT])
    proc = subprocess.Popen(record_command(killed, ["--seconds", "60"]), env=ENV,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1.3)
    proc.send_signal(signal.SIGKILL)
    proc.wait()
    sources.append((killed, True))
    if FORMAT == "fits-frames":
        return cut_frames_test(work, finished, killed, rng)

    cases = []
    for source, journaled in sources:
        info = contents(source, repaired=False)
        if info is None:
            continue
        size = os.path.getsize(source)
        ends = frame_ends(source, info)
        # Random bytes, and the bytes either side of a frame's end.
        points = [rng.randrange(1, size) for _ in range(10)]
        for end in rng.sample(ends, min(3, len(ends))):
            points += [end - 1, end, end + 1]
        for n, point in enumerate(sorted(set(p for p in points if 0 < p < size))):
            copy = os.path.join(work, "cut%d-%d-%s" % (len(cases), point, os.path.basename(source)))
            shutil.copyfile(source, copy)
            if os.path.exists(source + ".journal"):
                shutil.copyfile(source + ".journal", copy + ".journal")
            os.truncate(copy, point)
            whole = sum(1 for end in ends if end <= point)
            cases.append((copy, whole, journaled or point >= size, info))
    print(repair([c[0] for c in cases]))
    for copy, whole, timed, info in cases:
        name = os.path.basename(copy)
        if whole == 0:
            continue  # nothing to keep: repair may refuse
        after = contents(copy, repaired=timed or FORMAT == "ome-tiff")
        if after is None:
            continue
        check(after["declared"] == whole, name + ": %d frames kept, %d were whole" % (after["declared"], whole))
        whole_frames = info.get("pages", info["stack"])
        check(np.array_equal(after["stack"], whole_frames[:after["declared"]]), name + ": frames differ")
        if after["times"] is not None:
            check(increasing(after["times"]), name + ": times not increasing")
    print("cuts of %s: %d files, frames kept %s" % (FORMAT, len(cases), [c[1] for c in cases]))


def cut_frames_test(work, finished, killed, rng):
    """A file per frame: a cut file loses its frame and nothing else."""
    files = sorted(glob.glob(finished[:-5] + "_*.fits"))
    victim = files[-1]
    os.truncate(victim, rng.randrange(1, os.path.getsize(victim) - 2880))
    out = repair([victim])
    check("cut short" in out, "repair of a cut frame: " + out)
    # A frame a kill caught under its working name: whole ones take their
    # name, cut ones go.
    part = finished[:-5] + "_000031.fits.part"
    shutil.copyfile(files[0], part)
    cut = finished[:-5] + "_000032.fits.part"
    shutil.copyfile(files[1], cut)
    os.truncate(cut, 4000)
    print(repair([part, cut]))
    check(os.path.exists(part[:-5]) and not os.path.exists(part), "a whole .part did not take its name")
    check(not os.path.exists(cut) and not os.path.exists(cut[:-5]), "a cut .part was kept")
    os.remove(victim)
    os.remove(part[:-5])
    contents(finished, repaired=True)
    contents(killed, repaired=False)


# ---- Full ------------------------------------------------------------------------------------

def full_test(work):
    """A 4 MiB filesystem: about a dozen frames fit."""
    mount = os.path.join(work, "small")
    os.mkdir(mount)
    mounted = os.geteuid() == 0 and subprocess.run(
        ["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", mount], stderr=subprocess.DEVNULL).returncode == 0
    limit = None
    if not mounted:
        # Without the right to mount: a file size limit, reported as a file
        # too large rather than a full disk.
        import resource
        limit = 4 << 20
        print("no tmpfs: a file size limit of %d bytes instead" % limit)
        if FORMAT == "fits-frames":
            print("skipped: a file per frame never reaches the limit")
            return

    def limited():
        if limit:
            import resource
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

    try:
        out = os.path.join(mount, "run" + EXTENSIONS[FORMAT])
        # A known length that cannot fit is refused before anything is written.
        run = subprocess.run(record_command(out, ["--frames", "1000"]), env=ENV, capture_output=True,
                             text=True, preexec_fn=limited)
        if mounted:
            check(run.returncode == 1, "refusal exited %d" % run.returncode)
            check("not enough free space in " + mount in run.stderr and "1000 frames need 307.2 MB" in run.stderr,
                  "refusal says: " + run.stderr)
            check(not os.listdir(mount), "a refused recording left %s" % os.listdir(mount))

        run = subprocess.run(record_command(out, ["--seconds", "60"]), env=ENV, capture_output=True,
                             text=True, preexec_fn=limited)
        print(run.stdout + run.stderr)
        reason = "No space left on device" if mounted else "File too large"
        check(run.returncode == 1, "full disk exited %d" % run.returncode)
        check(reason in run.stderr, "no '%s' in: %s" % (reason, run.stderr))
        counts = re.search(r"recorded (\d+) of (\d+) frames", run.stdout)
        failed = re.search(r"not written (\d+) \(writing failed\)", run.stdout)
        check("dropped 0 (queue full)" in run.stdout, "frames counted as dropped: " + run.stdout)
        if not check(counts and failed, "no counts in: " + run.stdout):
            return
        recorded, offered = int(counts.group(1)), int(counts.group(2))
        check(offered == recorded + int(failed.group(1)), "counts do not add up: " + run.stdout)
        # Ended at once: the 60 s would have offered some 2,000 frames.
        check(offered < recorded + 40, "went on after the failure: " + run.stdout)
        check(recorded > 3, "only %d frames fitted" % recorded)
        check("holds the %d frames written before" % recorded in run.stderr, "no summary of the file: " + run.stderr)
        if not os.path.exists(out + ".journal"):
            # Complete as it is: every frame, with its times.
            info = contents(out, repaired=True)
            if info:
                check(info["declared"] == recorded, "%d frames readable of %d recorded" % (info["declared"], recorded))
                check(info["times"] is not None and len(info["times"]) == recorded, "times of every frame")
        else:
            # A full disk makes room for the trailer or table by removing
            # the journal; a file size limit may leave no room for it: the
            # frames are there, and the journal stays for repair.
            check(not mounted, "the journal stayed on a full disk")
            info = contents(out, repaired=False)
            check(info and info["declared"] == recorded, "frames readable without their times")
    finally:
        if mounted:
            subprocess.run(["umount", mount])


work = tempfile.mkdtemp(prefix="ezcam-survival-")
print("seed", SEED)
try:
    {"kill": kill_test, "cut": cut_test, "full": full_test}[ACTION](work)
finally:
    shutil.rmtree(work, ignore_errors=True)
if failures:
    sys.exit("%d checks failed (seed %d)" % (len(failures), SEED))
print("ok")
