#!/usr/bin/env python3
"""Red stays red from the scene to the file: the simulator's colour chart
taken by ezcap on cameras of different Bayer codes, as the SDK's finished
image (a TIFF still) and as a raw FITS recording debayered here with numpy
by the recording's own BAYERPAT, and as a raw SER recording by its colour
identifier. In every one the chart's red patch is red and its blue patch
blue, and the finished image agrees with the debayered raw one.

Usage: colour_sites_ezcap.py PATH-TO-EZCAP
"""
import os
import subprocess
import sys
import tempfile

import numpy as np
import tifffile
from astropy.io import fits

ezcap = sys.argv[1]
failures = []

# The chart's patches (index = row * 6 + column) and the simulator's layout.
RED, BLUE, GREEN, YELLOW = 14, 12, 13, 15
SER_PATTERNS = {8: "RGGB", 9: "GRBG", 10: "GBRG", 11: "BGGR"}


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what, file=sys.stderr)


def patch_mean(image, patch):
    """Mean of the central half of a patch of an H x W x 3 image."""
    h, w = image.shape[:2]
    c, r = patch % 6, patch // 6
    x0, x1 = 0.07 + 0.15 * c, 0.18 + 0.15 * c
    y0, y1 = 0.13 + 0.2 * r, 0.27 + 0.2 * r
    mx, my = (x1 - x0) / 4, (y1 - y0) / 4
    part = image[int((y0 + my) * h):int((y1 - my) * h), int((x0 + mx) * w):int((x1 - mx) * w)]
    return part.reshape(-1, 3).astype(float).mean(axis=0)


def debayer(raw, pattern):
    """One RGB pixel per 2 x 2 tile, by the pattern's letters."""
    planes = {"R": [], "G": [], "B": []}
    for i, letter in enumerate(pattern):
        planes[letter].append(raw[i // 2::2, i % 2::2].astype(float))
    return np.dstack([sum(planes[k]) / len(planes[k]) for k in "RGB"])


def read_ser(path):
    with open(path, "rb") as f:
        head = f.read(178)
        colour = int.from_bytes(head[18:22], "little")
        width = int.from_bytes(head[26:30], "little")
        height = int.from_bytes(head[30:34], "little")
        depth = int.from_bytes(head[34:38], "little")
        dtype = np.uint8 if depth <= 8 else np.dtype("<u2")
        frame = np.frombuffer(f.read(width * height * np.dtype(dtype).itemsize), dtype=dtype)
    return colour, frame.reshape(height, width)


def colours_right(what, image):
    red, blue = patch_mean(image, RED), patch_mean(image, BLUE)
    green, yellow = patch_mean(image, GREEN), patch_mean(image, YELLOW)
    check(red[0] > 2 * red[2] and red[0] > 1.5 * red[1], f"{what}: red patch {red.round(1)} is not red")
    check(blue[2] > 2 * blue[0], f"{what}: blue patch {blue.round(1)} is not blue")
    check(green[1] > 1.3 * green[0] and green[1] > 1.3 * green[2], f"{what}: green patch {green.round(1)}")
    check(yellow[2] < 0.6 * min(yellow[0], yellow[1]), f"{what}: yellow patch {yellow.round(1)}")


def main():
    work = tempfile.mkdtemp(prefix="ezcam-colour-")
    # Bayer codes 3, 2 and 4, each exposed (ms) so that the white patch
    # stays below the top in every channel.
    for product, exposure in (("c004", "15"), ("c005", "0.8"), ("e80c", "15")):
        env = dict(os.environ, EZCAM_SIM="0547:" + product, EZCAM_SIM_PACE="0",
                   EZCAM_SIM_SCENE="chart")
        base = os.path.join(work, product)
        done = subprocess.run(
            [ezcap, "exposure", exposure, "save", base, "tif",
             "record", base + ".fits", "--frames", "1", "--format", "fits",
             "record", base + ".ser", "--frames", "1", "--format", "ser"],
            env=env, capture_output=True, text=True, stdin=subprocess.DEVNULL)
        check(done.returncode == 0, f"{product}: ezcap failed: {done.stderr}")
        if done.returncode != 0:
            continue
        finished = tifffile.imread(base + ".tif")
        with fits.open(base + ".fits") as hdus:
            pattern = hdus[0].header["BAYERPAT"]
            raw = hdus[0].data
            raw = raw[0] if raw.ndim == 3 else raw
        white = patch_mean(debayer(raw, pattern), 18)
        check(white.max() < 250, f"{product}: the white patch clips ({white.round(1)})")
        colours_right(f"{product} finished image", finished)
        debayered = debayer(raw, pattern)
        colours_right(f"{product} FITS debayered by {pattern}", debayered)
        colour, ser_raw = read_ser(base + ".ser")
        check(SER_PATTERNS.get(colour) == pattern, f"{product}: SER colour {colour}, FITS {pattern}")
        if colour in SER_PATTERNS:
            colours_right(f"{product} SER debayered by {SER_PATTERNS[colour]}",
                          debayer(ser_raw, SER_PATTERNS[colour]))
        # The finished image is the debayered raw one, up to the processing's
        # scale: each channel's ratio over the saturated patches' colours.
        for patch in (RED, BLUE, GREEN):
            a, b = patch_mean(finished, patch), patch_mean(debayered, patch)
            order_a, order_b = np.argsort(a), np.argsort(b)
            check(list(order_a) == list(order_b),
                  f"{product}: patch {patch} finished {a.round(1)} against raw {b.round(1)}")
    if failures:
        print(f"{len(failures)} failures", file=sys.stderr)
        return 1
    print("colour sites: finished images and raw recordings agree")
    return 0


if __name__ == "__main__":
    sys.exit(main())
