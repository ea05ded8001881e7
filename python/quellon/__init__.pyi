from _quellon import cast_array as cast_array
from _quellon import cast_array_into as cast_array_into
from quellon._typing import DTypeKey as DTypeKey
from quellon._typing import OutOfRangeMode as OutOfRangeMode
from quellon._typing import RoundingMode as RoundingMode
from quellon._typing import ScalarMapEntries as ScalarMapEntries

__version__: str

__all__ = [
    "DTypeKey",
    "OutOfRangeMode",
    "RoundingMode",
    "ScalarMapEntries",
    "cast_array",
    "cast_array_into",
]
