"""The valid texts and map shapes of the cast functions, as type aliases.

The functions take any str at run time and name an invalid one in their
ValueError; these aliases let a type checker and an editor offer the valid set.
"""
from collections.abc import Iterable
from typing import Literal, TypeAlias

DTypeKey: TypeAlias = Literal[
    "int8", "int16", "int32", "int64",
    "uint8", "uint16", "uint32", "uint64",
    "float16", "float32", "float64",
]

RoundingMode: TypeAlias = Literal[
    "nearest-even", "towards-zero", "towards-positive", "towards-negative", "nearest-away",
]

OutOfRangeMode: TypeAlias = Literal["clamp", "wrap"]

# Only a real dict is read as a mapping (any other object is iterated for
# pairs), and dict is invariant in its key type, hence the four spellings.
ScalarMapEntries: TypeAlias = (
    dict[int, int] | dict[int, float] | dict[float, int] | dict[float, float]
    | Iterable[tuple[float, float] | list[float]]
)
