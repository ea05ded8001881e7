"""Smoke test of an installed wheel: run in a fresh environment, away from the
source tree, with the version that pyproject.toml declares as argument."""
import math
import pathlib
import sys

import numpy as np

import _quellon
import quellon

version = sys.argv[1]
assert quellon.__version__ == version, (quellon.__version__, version)
assert quellon.cast_array is _quellon.cast_array and quellon.cast_array_into is _quellon.cast_array_into

site = pathlib.Path(_quellon.__file__).parent
for part in ("quellon/__init__.py", "quellon/__init__.pyi", "quellon/py.typed", "_quellon-stubs/__init__.pyi"):
    assert (site / part).is_file(), f"{part} is not installed beside _quellon"
assert pathlib.Path(quellon.__file__).parent == site / "quellon", quellon.__file__

got = quellon.cast_array(np.array([1.5, 300.0, -5.0, np.nan]), target_dtype="uint8",
                         rounding_mode="nearest-even", out_of_range_mode="clamp",
                         scalar_map_entries={math.nan: 7})
assert got.dtype == np.uint8 and got.tolist() == [2, 255, 0, 7], got

half = np.zeros(3, dtype=np.float16)
_quellon.cast_array_into(np.array([1, 65519, 65520], dtype=np.int32), half, rounding_mode="nearest-even")
assert half.tolist() == [1.0, 65504.0, math.inf], half

try:
    _quellon.cast_array(np.array([300], dtype=np.int16), target_dtype="uint8", rounding_mode="nearest-even")
except ValueError as error:
    assert str(error) == ("Value 300 out of range [0, 255]. "
                          "Set out_of_range='clamp' or out_of_range='wrap' to handle this."), error
else:
    raise AssertionError("an out-of-range value was accepted")

print(f"   Python {sys.version.split()[0]}, NumPy {np.__version__}: quellon {quellon.__version__} casts")
