"""Wrong uses that `mypy --strict` must reject: every line marked `# E: CODE`
gets an error of that code, and no other line gets any."""
import numpy as np
from numpy.typing import NDArray

import _quellon
from quellon import DTypeKey, RoundingMode, cast_array, cast_array_into

a = np.array([1.0], dtype=np.float64)
flags = np.zeros(1, dtype=np.bool_)
out = np.zeros(1, dtype=np.int8)

key: DTypeKey = "int7"  # E: assignment
mode: RoundingMode = "nearest_even"  # E: assignment
cast_array(a, target_dtype="int7", rounding_mode="nearest-even")  # E: call-overload
cast_array(a, target_dtype="int8", rounding_mode="Nearest-Even")  # E: call-overload
_quellon.cast_array(a, target_dtype="int8", rounding_mode="nearest-even", out_of_range_mode="saturate")  # E: call-overload
cast_array([1.0], target_dtype="int8", rounding_mode="nearest-even")  # E: call-overload
cast_array(flags, target_dtype="int8", rounding_mode="nearest-even")  # E: call-overload
cast_array(a, "int8", rounding_mode="nearest-even")  # E: call-overload
cast_array(a, target_dtype="int8", rounding_mode="nearest-even", scalar_map_entries={"a": 1})  # E: call-overload
cast_array(a, target_dtype="int8", rounding_mode="nearest-even", scalar_map_entries=5)  # E: call-overload
cast_array_into(a, out, rounding_mode="towards-zero", target_dtype="int8")  # E: call-arg
cast_array_into(a, out, rounding_mode="towards_zero")  # E: arg-type
_quellon.cast_array_into(a, out, rounding_mode="towards-zero", out_of_range_mode="CLAMP")  # E: arg-type
cast_array_into(a, [0], rounding_mode="towards-zero")  # E: arg-type
narrow: NDArray[np.int16] = cast_array(a, target_dtype="int8", rounding_mode="nearest-even")  # E: assignment
