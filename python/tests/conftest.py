"""Simulated cameras for the tests, unless the caller chose others."""
import os

os.environ.setdefault("EZCAM_SIM", "0547:c004,0547:c00c")
os.environ.setdefault("EZCAM_SIM_PACE", "0")
