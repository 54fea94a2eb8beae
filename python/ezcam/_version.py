"""The package's version, that of the SDK it comes with."""
__version__ = "0.1.0"
