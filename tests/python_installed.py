#!/usr/bin/env python3
"""Runs the Python package's tests on the package as pip installs it: a
virtual environment over the system's Python (numpy and pytest come from
there), `pip install` of a copy of python/ without network or build
isolation, then pytest from that environment.
    python_installed.py SOURCE_DIR [pytest arguments]"""
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path


def main():
    source = Path(sys.argv[1]).resolve()
    with tempfile.TemporaryDirectory(prefix="ezcam-python-") as scratch:
        scratch = Path(scratch)
        # pip builds in the tree it is given: a copy keeps the checkout clean.
        package = scratch / "package"
        shutil.copytree(source / "python", package, ignore=shutil.ignore_patterns(
            "__pycache__", "build", "*.egg-info", "tests"))
        # venv and pip run without an instrumented library's runtime preloaded.
        quiet = {k: v for k, v in os.environ.items()
                 if k not in ("LD_PRELOAD", "PYTHONPATH", "EZCAM_LIBRARY")}
        env = scratch / "env"
        # The system's pip serves the environment: nothing to fetch or copy.
        subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", "--without-pip",
                        str(env)], check=True, env=quiet)
        python = str(env / "bin" / "python")
        subprocess.run([python, "-m", "pip", "install", "-q", "--no-index", "--no-deps",
                        "--no-build-isolation", "--disable-pip-version-check", str(package)],
                       check=True, env=quiet, cwd=scratch)
        run_env = dict(os.environ, EZCAM_EXPECT_INSTALLED=str(env))
        run_env.pop("PYTHONPATH", None)
        # From the scratch directory, so that nothing but the installed
        # package can be imported as ezcam.
        result = subprocess.run([python, "-m", "pytest", "-q", "-p", "no:cacheprovider",
                                 str(source / "python" / "tests"), *sys.argv[2:]],
                                env=run_env, cwd=scratch)
        return result.returncode


if __name__ == "__main__":
    sys.exit(main())
