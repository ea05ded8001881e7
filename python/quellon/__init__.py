"""Casting NumPy arrays between numeric types under rules the caller states."""
from importlib import metadata as _metadata

from _quellon import cast_array, cast_array_into
from quellon._typing import DTypeKey, OutOfRangeMode, RoundingMode, ScalarMapEntries

__version__ = _metadata.version("quellon")

__all__ = [
    "DTypeKey",
    "OutOfRangeMode",
    "RoundingMode",
    "ScalarMapEntries",
    "cast_array",
    "cast_array_into",
]
