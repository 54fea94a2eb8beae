#!/usr/bin/env python3
"""The viewer's cost at the camera's own rate.

Runs ezview on a virtual X display (Xvfb) with live view of a simulated
camera for a while, and reports the CPU time the whole process used: as a
share of one core, and per frame shown, against the show thread's own work
for one frame (decode and keeping the shown frame, from bench_view) measured
in the same run on the same machine.

    bench/viewer_cpu.py [--seconds S] [--camera VID:PID] [--build DIR] [--ezview PROGRAM]
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time


def start_display():
    read, write = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x960x24", "-nolisten", "tcp"],
        pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read, "rb") as pipe:
        number = pipe.readline().strip()
    if not number:
        sys.exit("viewer_cpu: Xvfb did not start")
    return xvfb, ":" + number.decode()


def frame_rate(map_file):
    """The rate the viewer shows frames at, from its frame-rate field."""
    try:
        with open(map_file, encoding="utf-8") as f:
            for line in f.read().splitlines():
                fields = line.split("\t")
                if len(fields) == 9 and fields[2] == "txtFPS":
                    m = re.fullmatch(r"([0-9.]+) fps", fields[3])
                    if m:
                        return float(m.group(1))
    except FileNotFoundError:
        pass
    return None


def show_work_ms(bench_view):
    """Median CPU milliseconds of one frame's decode plus keeping it, as the
    show thread does them, from bench_view."""
    out = subprocess.run(
        [bench_view, "--benchmark_filter=DecodeFast|Keep/1", "--benchmark_repetitions=5",
         "--benchmark_report_aggregates_only=true", "--benchmark_color=false"],
        env=dict(os.environ, QT_QPA_PLATFORM="offscreen"), capture_output=True, text=True,
        check=True).stdout
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
    total = 0.0
    for line in re.sub(r"\x1b\[[0-9;]*m", "", out).splitlines():  # its reporter colours always
        m = re.match(r"(DecodeFast|Keep/1)/real_time_median\s+[0-9.]+ (\w+)\s+([0-9.]+) (\w+)", line)
        if m:
            total += float(m.group(3)) * scale[m.group(4)]
    if total <= 0:
        sys.exit("viewer_cpu: bench_view gave no figures")
    return total


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=30, help="live view this long (30)")
    parser.add_argument("--camera", default="0547:c004", help="simulated camera (0547:c004)")
    parser.add_argument("--build", default="build", help="the build directory (build)")
    parser.add_argument("--ezview", help="another viewer to measure (another build of it)")
    args = parser.parse_args()
    ezview = args.ezview or os.path.join(args.build, "src", "viewer", "ezview")
    bench_view = os.path.join(args.build, "bench", "bench_view")
    for program in (ezview, bench_view):
        if not os.access(program, os.X_OK):
            sys.exit("viewer_cpu: %s is not built" % program)

    work = tempfile.mkdtemp(prefix="ezview-cpu-")
    xvfb, display = start_display()
    try:
        home = os.path.join(work, "home")
        os.makedirs(home)
        map_file = os.path.join(work, "map")
        env = dict(os.environ, DISPLAY=display, HOME=home, EZVIEW_WIDGET_MAP=map_file,
                   XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   XDG_DATA_HOME=os.path.join(home, ".local", "share"), XDG_RUNTIME_DIR=work)
        for name in ("QT_QPA_PLATFORM", "EZCAM_SIM_PACE"):
            env.pop(name, None)
        started = time.monotonic()
        viewer = subprocess.Popen(
            [ezview, "--simulate", args.camera, "--live", "--quit-after", str(args.seconds),
             "-geometry", "1200x850+0+0"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        rates = []
        while True:  # waited for with wait4, which also gives the process's CPU time
            pid, _, usage = os.wait4(viewer.pid, os.WNOHANG)
            if pid:
                break
            time.sleep(0.5)
            rate = frame_rate(map_file)
            if rate is not None:
                rates.append(rate)
        viewer.returncode = 0  # reaped above
        elapsed = time.monotonic() - started
        cpu = usage.ru_utime + usage.ru_stime
    finally:
        xvfb.terminate()
        xvfb.wait()
        shutil.rmtree(work, ignore_errors=True)
    if not rates:
        sys.exit("viewer_cpu: the viewer showed no frame rate")
    rates.sort()
    rate = rates[len(rates) // 2]
    shown = rate * elapsed
    per_frame_ms = 1000 * cpu / shown
    work_ms = show_work_ms(bench_view)
    print("%s: %.1f s live at %.2f frames/s shown (median)" % (args.camera, elapsed, rate))
    print("viewer process: %.1f %% of one core, %.1f ms of CPU per frame shown" %
          (100 * cpu / elapsed, per_frame_ms))
    print("the show thread's own work for a frame (decode and keep, bench_view): %.1f ms" % work_ms)
    print("ratio of the process's CPU per frame shown to that work: %.2f" % (per_frame_ms / work_ms))


if __name__ == "__main__":
    main()
