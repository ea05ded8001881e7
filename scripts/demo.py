"""A few casts and the errors the module reports."""
import numpy as np

from _quellon import cast_array, cast_array_into


def show(label, thunk):
    try:
        result = thunk()
        print(f"{label:58} -> {result!r}")
    except (TypeError, ValueError) as error:
        print(f"{label:58} !! {type(error).__name__}: {error}")


a = np.array([1, 300, -5], dtype=np.int32)
print("a =", repr(a))
show('cast_array(a, "uint8", clamp)', lambda: cast_array(
    a, target_dtype="uint8", rounding_mode="nearest-even", out_of_range_mode="clamp"))
show('cast_array(a, "uint8", wrap)', lambda: cast_array(
    a, target_dtype="uint8", rounding_mode="nearest-even", out_of_range_mode="wrap"))
show('cast_array(a, "uint8") without an out-of-range mode', lambda: cast_array(
    a, target_dtype="uint8", rounding_mode="nearest-even"))
show('cast_array(uint64 max, "int64")', lambda: cast_array(
    np.array([2**64 - 1], dtype=np.uint64), target_dtype="int64", rounding_mode="nearest-even"))

out = np.full(3, 9, dtype=np.uint8)
show("cast_array_into(a, out) stops at the failing element", lambda: cast_array_into(
    a, out, rounding_mode="nearest-even"))
print(f"{'  out afterwards':58} -> {out!r}")

show('cast_array(a, "uint8", rounding_mode="Nearest-Even")', lambda: cast_array(
    a, target_dtype="uint8", rounding_mode="Nearest-Even"))
show('cast_array(a, "float")', lambda: cast_array(a, target_dtype="float", rounding_mode="nearest-even"))
show("cast_array(a, 'int8', 'towards-zero') by position", lambda: cast_array(a, "int8", rounding_mode="towards-zero"))

f = np.array([0.5, 1.5, 2.5, -0.5, 255.5], dtype=np.float64)
print("f =", repr(f))
for mode in ["nearest-even", "towards-zero", "towards-positive", "towards-negative", "nearest-away"]:
    show(f'cast_array(f, "uint8", "{mode}", clamp)', lambda mode=mode: cast_array(
        f, target_dtype="uint8", rounding_mode=mode, out_of_range_mode="clamp"))
show('cast_array(f, "uint8", "nearest-even")', lambda: cast_array(
    f, target_dtype="uint8", rounding_mode="nearest-even"))
show('cast_array([nan], "int32", clamp)', lambda: cast_array(
    np.array([np.nan]), target_dtype="int32", rounding_mode="nearest-even", out_of_range_mode="clamp"))
show('cast_array([70000.0], "float16")', lambda: cast_array(
    np.array([70000.0], dtype=np.float32), target_dtype="float16", rounding_mode="nearest-even"))
show('cast_array([-1, 5], "uint8", scalar map {-1: 200})', lambda: cast_array(
    np.array([-1, 5], dtype=np.int16), target_dtype="uint8", rounding_mode="nearest-even",
    scalar_map_entries={-1: 200}))
