# Stubs of the extension module _quellon. They ship as a stub-only package
# because mypy ignores a .pyi installed beside a top-level extension module.
from typing import Any, Literal, TypeAlias, overload

import numpy as np
from numpy.typing import NDArray

from quellon._typing import DTypeKey, OutOfRangeMode, RoundingMode, ScalarMapEntries

__all__ = ["cast_array", "cast_array_into"]

# Integer and floating arrays; of these, the eleven dtype keys work and any
# other (float128) fails at run time with "Unsupported numpy dtype: ...".
_Numeric: TypeAlias = NDArray[np.integer[Any] | np.floating[Any]]

@overload
def cast_array(
    arr: _Numeric,
    *,
    target_dtype: Literal["int8"],
    rounding_mode: RoundingMode,
    out_of_range_mode: OutOfRangeMode | None = None,
    scalar_map_entries: ScalarMapEntries | None = None,
) -> NDArray[np.int8]: ...
@overload
def cast_array(
    arr: _Numeric,
    *,
    target_dtype: Literal["int16"],
    rounding_mode: RoundingMode,
    out_of_range_mode: OutOfRangeMode | None = None,
    scalar_map_entries: ScalarMapEntries | None = None,
) -> NDArray[np.int16]: ...
@overload
def cast_array(
    arr: _Numeric,
    *,
    target_dtype: Literal["int32"],
    rounding_mode: RoundingMode,
    out_of_range_mode: OutOfRangeMode | None = None,
    scalar_map_entries: ScalarMapEntries | None = None,
) -> NDArray[np.int32]: ...
@overload
def cast_array(
    arr: _Numeric,
    *,
    target_dtype: Literal["int64"],
    rounding_mode: RoundingMode,
    out_of_range_mode: OutOfRangeMode | None = None,
    scalar_map_entries: ScalarMapEntries | None = None,
) -> NDArray[np.int64]: ...
@overload
def cast_array(
    arr: _Numeric,
    *,
    target_dtype: Literal["uint8"],
    rounding_mode: RoundingMode,
    out_of_range_mode: OutOfRangeMode | None = None,
    scalar_map_entries: ScalarMapEntries | None = None,
) -> NDArray[np.uint8]: ...
@overload
def cast_array(
    arr: _Numeric,
    *,
    target_dtype: Literal["uint16"],
    rounding_mode: RoundingMode,
    out_of_range_mode: OutOfRangeMode | None = None,
    scalar_map_entries: ScalarMapEntries | None = None,
) -> NDArray[np.uint16]: ...
@overload
def cast_array(
    arr: _Numeric,
    *,
    target_dtype: Literal["uint32"],
    rounding_mode: RoundingMode,
    out_of_range_mode: OutOfRangeMode | None = None,
    scalar_map_entries: ScalarMapEntries | None = None,
) -> NDArray[np.uint32]: ...
@overload
def cast_array(
    arr: _Numeric,
    *,
    target_dtype: Literal["uint64"],
    rounding_mode: RoundingMode,
    out_of_range_mode: OutOfRangeMode | None = None,
    scalar_map_entries: ScalarMapEntries | None = None,
) -> NDArray[np.uint64]: ...
@overload
def cast_array(
    arr: _Numeric,
    *,
    target_dtype: Literal["float16"],
    rounding_mode: RoundingMode,
    out_of_range_mode: OutOfRangeMode | None = None,
    scalar_map_entries: ScalarMapEntries | None = None,
) -> NDArray[np.float16]: ...
@overload
def cast_array(
    arr: _Numeric,
    *,
    target_dtype: Literal["float32"],
    rounding_mode: RoundingMode,
    out_of_range_mode: OutOfRangeMode | None = None,
    scalar_map_entries: ScalarMapEntries | None = None,
) -> NDArray[np.float32]: ...
@overload
def cast_array(
    arr: _Numeric,
    *,
    target_dtype: Literal["float64"],
    rounding_mode: RoundingMode,
    out_of_range_mode: OutOfRangeMode | None = None,
    scalar_map_entries: ScalarMapEntries | None = None,
) -> NDArray[np.float64]: ...
@overload
def cast_array(
    arr: _Numeric,
    *,
    target_dtype: DTypeKey,
    rounding_mode: RoundingMode,
    out_of_range_mode: OutOfRangeMode | None = None,
    scalar_map_entries: ScalarMapEntries | None = None,
) -> NDArray[Any]: ...
def cast_array_into(
    arr: _Numeric,
    out: _Numeric,
    *,
    rounding_mode: RoundingMode,
    out_of_range_mode: OutOfRangeMode | None = None,
    scalar_map_entries: ScalarMapEntries | None = None,
) -> None: ...
