#!/usr/bin/python3
"""Reads a raw recording back with tifffile or astropy and compares it with
the frames the camera's reader delivered.

    record_readback.py ome-tiff|fits|fits-frames PATH EXPECTED_DIR

EXPECTED_DIR holds frames.bin (the delivered samples, frame after frame) and
frames.txt ("width height depth bayer count", then one line per frame:
"number monotonic_ns utc_ns exposure_ms gain"). Exits 0 when all agree.
"""
import datetime
import glob
import os
import re
import subprocess
import sys

import numpy as np

kind, path, expected_dir = sys.argv[1:4]
with open(os.path.join(expected_dir, "frames.txt")) as f:
    width, height, depth, bayer, count = map(int, f.readline().split())
    rows = [line.split() for line in f]
numbers = [int(r[0]) for r in rows]
monotonic = [int(r[1]) for r in rows]
utc = [int(r[2]) for r in rows]
exposure = [float(r[3]) for r in rows]
gain = [int(r[4]) for r in rows]
dtype = np.dtype("<u2") if depth == 16 else np.dtype("u1")
delivered = np.fromfile(os.path.join(expected_dir, "frames.bin"), dtype=dtype)
delivered = delivered.reshape(count, height, width)
# The recording's times: one UTC anchor, the monotonic clock from there.
recorded_utc = [utc[0] + (m - monotonic[0]) for m in monotonic]


def utc_ns(text):
    when = datetime.datetime.fromisoformat(text.rstrip("Z")).replace(tzinfo=datetime.timezone.utc)
    return round(when.timestamp() * 1e6) * 1000


def check(condition, what):
    if not condition:
        sys.exit("FAILED: " + what)


def fitsverify(name):
    """fitsverify finds neither an error nor a warning in the file."""
    quiet = subprocess.run(["fitsverify", "-q", name], capture_output=True, text=True)
    if quiet.returncode != 0 or "verification OK" not in quiet.stdout:
        full = subprocess.run(["fitsverify", name], capture_output=True, text=True)
        sys.exit("FAILED: fitsverify on %s:\n%s%s" % (name, full.stdout, full.stderr))


def check_fits_header(header):
    """What a FITS header of a recording says of the frames beside the settings."""
    check(header["IMAGETYP"] == "Light Frame", "IMAGETYP %r" % header.get("IMAGETYP"))
    check(header["SIGBITS"] == (12 if depth == 16 else 8), "SIGBITS %r" % header.get("SIGBITS"))
    # The simulated models state no pixel pitch.
    check("XPIXSZ" not in header and "YPIXSZ" not in header, "a pixel size nobody knows")


def check_times(seconds_or_ns, scale, what):
    values = np.array(seconds_or_ns, dtype=np.float64)
    check(np.all(np.diff(values) > 0), what + " not strictly increasing: %s" % values)
    return values * scale


if kind == "ome-tiff":
    import tifffile

    with tifffile.TiffFile(path) as tif:
        check(tif.is_ome, "no OME-XML")
        series = tif.series[0]
        check(series.shape == (count, height, width), "shape %s" % (series.shape,))
        check(series.dtype == dtype, "dtype %s" % series.dtype)
        check(np.array_equal(series.asarray(), delivered), "samples differ")
        xml = tif.ome_metadata
    pixels = re.search(r"<Pixels [^>]*>", xml).group(0)
    significant = 12 if depth == 16 else 8
    for attribute in ('Type="uint%d"' % depth, 'SignificantBits="%d"' % significant,
                      'SizeX="%d"' % width, 'SizeY="%d"' % height,
                      'SizeT="%d"' % count, 'BigEndian="false"'):
        check(attribute in pixels, attribute + " not in " + pixels)
    planes = re.findall(r'<Plane [^>]*TheT="(\d+)" DeltaT="([^"]+)"[^>]*ExposureTime="([^"]+)"', xml)
    check([int(p[0]) for p in planes] == list(range(count)), "planes %s" % planes)
    delta = check_times([float(p[1]) for p in planes], 1e9, "DeltaT")
    check(np.allclose(delta, np.array(monotonic) - monotonic[0], atol=1000), "DeltaT %s" % delta)
    check(np.allclose([float(p[2]) for p in planes], exposure, rtol=1e-5), "ExposureTime")
    check("PhysicalSizeX" not in pixels, "a physical size without an objective")
    check('K="FrameType">Light Frame<' in xml, "no frame type")
    if bayer:
        check(re.search(r'K="BayerPattern">[RGB]{4}<', xml), "no Bayer pattern")
elif kind == "fits":
    from astropy.io import fits

    with fits.open(path) as hdus:
        header = hdus[0].header
        check(np.array_equal(hdus[0].data, delivered), "samples differ")
        table = hdus["FRAMES"].data
        check(list(table["FRAMENUM"]) == numbers, "FRAMENUM %s" % list(table["FRAMENUM"]))
        ends = check_times([utc_ns(t) for t in table["DATE_END"]], 1, "DATE_END")
        check(np.allclose(ends, recorded_utc, atol=1000), "DATE_END")
        check(np.allclose(table["EXPTIME"], np.array(exposure) / 1000), "EXPTIME")
        check(list(table["GAIN"]) == gain, "GAIN")
    check(header["INSTRUME"] and header["ROWORDER"] == "TOP-DOWN", "INSTRUME, ROWORDER")
    check(("BAYERPAT" in header) == (bayer != 0), "BAYERPAT")
    check("CCD-TEMP" not in header, "a temperature from a camera without one")
    check_fits_header(header)
    fitsverify(path)
elif kind == "fits-frames":
    from astropy.io import fits

    files = sorted(glob.glob(path.replace(".fits", "_*.fits")))
    check(len(files) == count, "%d files" % len(files))
    starts = []
    for i, name in enumerate(files):
        with fits.open(name) as hdus:
            header = hdus[0].header
            check(np.array_equal(hdus[0].data, delivered[i]), "samples of %s differ" % name)
            check(header["FRAMENUM"] == numbers[i], "FRAMENUM of " + name)
            check(abs(header["EXPTIME"] - exposure[i] / 1000) < 1e-6, "EXPTIME of " + name)
            check(abs(utc_ns(header["DATE-END"]) - recorded_utc[i]) <= 1000, "DATE-END of " + name)
            starts.append(utc_ns(header["DATE-OBS"]))
            check_fits_header(header)
        fitsverify(name)
    check_times(starts, 1, "DATE-OBS")
else:
    sys.exit("unknown kind " + kind)
print("ok")
