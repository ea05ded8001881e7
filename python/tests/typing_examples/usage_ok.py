"""Typed use of the package as a caller writes it; must pass `mypy --strict`."""
from typing import assert_type

import numpy as np
from numpy.typing import NDArray

import _quellon
import quellon
from quellon import OutOfRangeMode, RoundingMode, cast_array, cast_array_into


def to_bytes(values: NDArray[np.float32], mode: RoundingMode = "nearest-even") -> NDArray[np.uint8]:
    return cast_array(values, target_dtype="uint8", rounding_mode=mode, out_of_range_mode="clamp")


def main() -> None:
    a = np.array([1.5, 300.0, -5.0], dtype=np.float32)
    assert_type(to_bytes(a), NDArray[np.uint8])
    assert_type(cast_array(a, target_dtype="float16", rounding_mode="towards-zero"), NDArray[np.float16])
    assert_type(_quellon.cast_array(a, target_dtype="int64", rounding_mode="nearest-away",
                                    out_of_range_mode=None), NDArray[np.int64])

    oor: OutOfRangeMode | None = "wrap"
    out = np.zeros(3, dtype=np.int8)
    assert_type(cast_array_into(a, out, rounding_mode="towards-negative", out_of_range_mode=oor), None)

    ints = np.array([-1, 5], dtype=np.int16)
    by_dict = cast_array(ints, target_dtype="uint8", rounding_mode="nearest-even", scalar_map_entries={-1: 200})
    pairs: list[tuple[int, int]] = [(-1, 200)]
    by_pairs = cast_array(ints, target_dtype="uint8", rounding_mode="nearest-even", scalar_map_entries=pairs)
    nan_map = {float("nan"): 0}
    floats = cast_array(a, target_dtype="int32", rounding_mode="nearest-even", scalar_map_entries=nan_map)
    lists = cast_array(a, target_dtype="float64", rounding_mode="nearest-even", scalar_map_entries=[[1.5, 2]])
    assert by_dict.tolist() == by_pairs.tolist() == [200, 5]
    assert floats.tolist() == [2, 300, -5] and lists.tolist() == [2.0, 300.0, -5.0]

    version: str = quellon.__version__
    assert version


if __name__ == "__main__":
    main()
