import math

import numpy as np
import pytest

from _quellon import cast_array, cast_array_into
from exact import FLOAT_BITS, MODES, round_exact, round_to_integer
from messages import fmt, out_of_range

FLOATS = ["float16", "float32", "float64"]
INTS = ["int8", "int16", "int32", "int64", "uint8", "uint16", "uint32", "uint64"]
NOT_CASTABLE_NAN = "Cannot cast NaN to integer type without scalar_map"


def bounds(s, t):
    """The target's bounds as the source type holds them (binary16 through binary32)."""
    info = np.iinfo(t)
    bits = FLOAT_BITS[s]

    def convert(v):
        if bits == 16:
            return round_exact(round_exact(v, 32, "nearest-even"), 16, "nearest-even")
        return round_exact(v, bits, "nearest-even")

    return convert(info.min), convert(info.max)


def saturate(r, t):
    info = np.iinfo(t)
    if r >= info.max:
        return info.max
    if r <= info.min:
        return info.min
    return int(r)


def sample(s, t, seed):
    rng = np.random.default_rng(seed)
    info = np.iinfo(t)
    span = float(info.max) - float(info.min)
    values = rng.uniform(float(info.min) - span / 4, float(info.max) + span / 4, size=800).tolist()
    values += (rng.integers(-20, 20, size=200) / 2).tolist()  # ties
    for edge in (info.min, info.max):
        for d in (-1.5, -1, -0.5, -0.4, 0, 0.4, 0.5, 1, 1.5):
            values.append(float(edge) + d)
    values += [np.inf, -np.inf, 0.0, -0.0, 0.49999997, 8388609.0, 0.49999999999999994]
    with np.errstate(over="ignore"):
        return np.array(values, dtype=s)


@pytest.mark.parametrize("s", FLOATS)
@pytest.mark.parametrize("t", INTS)
@pytest.mark.parametrize("mode", MODES)
def test_checked_and_clamped_against_exact_rounding(s, t, mode):
    a = sample(s, t, seed=FLOAT_BITS[s] + len(t) * 3 + MODES.index(mode))
    lo, hi = bounds(s, t)
    rounded = [round_to_integer(float(x), mode) for x in a]
    clamped = cast_array(a, target_dtype=t, rounding_mode=mode, out_of_range_mode="clamp")
    want = [saturate(min(max(r, lo), hi), t) for r in rounded]
    assert clamped.tolist() == want

    inside = np.array([x for x, r in zip(a, rounded) if lo <= r <= hi], dtype=s)
    checked = cast_array(inside, target_dtype=t, rounding_mode=mode)
    assert checked.tolist() == [saturate(round_to_integer(float(x), mode), t) for x in inside]

    outside = [(x, r) for x, r in zip(a, rounded) if not lo <= r <= hi]
    if outside and ((s, t) != ("float64", "int32") or mode == "nearest-away"):
        x, r = outside[0]
        with pytest.raises(ValueError) as info:
            cast_array(np.array([0, x], dtype=s), target_dtype=t, rounding_mode=mode)
        assert str(info.value) == out_of_range(r, lo, hi)


@pytest.mark.parametrize("s", FLOATS)
@pytest.mark.parametrize("t", INTS)
@pytest.mark.parametrize("oor", [None, "clamp", "wrap"])
def test_nan_is_never_castable(s, t, oor):
    out = np.full(3, 5, dtype=t)
    nan = np.array([1.0, -np.nan, 2.0], dtype=s)
    with pytest.raises(ValueError) as info:
        cast_array_into(nan, out, rounding_mode="towards-zero", out_of_range_mode=oor)
    assert str(info.value) == NOT_CASTABLE_NAN
    assert out[0] == 1 and out[2] == 5


@pytest.mark.parametrize("s, t, mode, values, want", [
    ("float64", "uint8", "nearest-even", [0.5, 1.5, 2.5, 255.4, -0.4], [0, 2, 2, 255, 0]),
    ("float64", "uint8", "towards-zero", [-0.9, 255.9], [0, 255]),
    ("float32", "int32", "nearest-even", [2147483648.0], [2147483647]),
    ("float64", "int64", "nearest-even", [2.0**63], [2**63 - 1]),
    ("float64", "uint64", "nearest-even", [2.0**64], [2**64 - 1]),
    ("float16", "int16", "nearest-even", [32768], [32767]),
    ("float16", "uint16", "nearest-even", [np.inf, 65504], [65535, 65504]),
    ("float16", "int32", "nearest-even", [np.inf, -np.inf], [2147483647, -2147483648]),
    # nearest-away is the true nearest integer with ties away from zero
    ("float32", "int32", "nearest-away", [0.49999997, 8388609, 2.5, -2.5, -0.5], [0, 8388609, 3, -3, -1]),
    ("float64", "int64", "nearest-away", [0.49999999999999994, 4503599627370497.0], [0, 4503599627370497]),
    ("float16", "int8", "nearest-away", [2.5, 0.49975586], [3, 0]),
])
def test_checked_examples(s, t, mode, values, want):
    assert cast_array(np.array(values, dtype=s), target_dtype=t, rounding_mode=mode).tolist() == want


@pytest.mark.parametrize("s, t, mode, x, numbers", [
    ("float64", "uint8", "nearest-even", 255.5, (256, 0, 255)),
    ("float64", "uint8", "nearest-even", -0.6, (-1, 0, 255)),
    ("float64", "int8", "nearest-even", np.inf, (np.inf, -128, 127)),
    ("float32", "int32", "nearest-even", 3e9, (3000000000, -2147483648, 2147483648)),
    ("float32", "uint32", "towards-zero", -1.0, (-1, 0, 4294967296)),
    ("float64", "int64", "towards-zero", -1e19, (-1e19, -(2.0**63), 2.0**63)),
    ("float16", "int16", "nearest-even", 32800, (32800, -32768, 32768)),
    ("float16", "uint16", "nearest-even", -1, (-1, 0, np.inf)),
    ("float16", "uint64", "nearest-even", -1, (-1, 0, np.inf)),
])
def test_out_of_range_messages(s, t, mode, x, numbers):
    with pytest.raises(ValueError) as info:
        cast_array(np.array([x], dtype=s), target_dtype=t, rounding_mode=mode)
    assert str(info.value) == out_of_range(*numbers)


def test_next_value_past_a_rounded_up_bound_fails():
    for s, t, bound in [("float64", "int64", 2.0**63), ("float64", "uint64", 2.0**64)]:
        with pytest.raises(ValueError, match="^Value "):
            cast_array(np.array([np.nextafter(bound, np.inf)], dtype=s), target_dtype=t,
                       rounding_mode="nearest-even")


def test_float64_to_int32_check_reports_like_its_kernel_or_the_element_loop():
    # With AVX the kernel reports the value before rounding; without it the
    # element loop reports the rounded value. Both name the same bounds.
    with pytest.raises(ValueError) as info:
        cast_array(np.array([1.0, 2147483647.6]), target_dtype="int32", rounding_mode="nearest-even")
    assert str(info.value) in (out_of_range(2147483647.6, -2147483648, 2147483647),
                               out_of_range(2147483648, -2147483648, 2147483647))
    assert cast_array(np.array([2147483647.4]), target_dtype="int32",
                      rounding_mode="nearest-even").tolist() == [2147483647]


@pytest.mark.parametrize("s, t, values, want", [
    ("float64", "uint8", [300, -1, 255], [44, 255, 255]),
    ("float64", "int8", [200, -129, 127], [-56, 127, 127]),
    ("float32", "uint32", [5000000000, -1, -200], [705032704, 4294967295, 4294967040]),
    ("float64", "uint32", [-200], [4294967096]),
    ("float64", "uint64", [-1, -2, -4096], [2**64 - 1, 2**64 - 1, 18446744073709547520]),
    ("float16", "int16", [32800, -32800, 32768, 1000], [0, 32767, 32767, 1000]),
    ("float16", "uint16", [-1, -2], [65535, 65535]),
    ("float16", "int8", [200, -129], [-56, 127]),
])
def test_wrap_arithmetic_in_the_source_type(s, t, values, want):
    got = cast_array(np.array(values, dtype=s), target_dtype=t, rounding_mode="nearest-even",
                     out_of_range_mode="wrap")
    assert got.tolist() == want


@pytest.mark.parametrize("s, t", [("float64", "int8"), ("float16", "int32"), ("float32", "uint64")])
def test_wrap_refuses_infinities(s, t):
    for x in (np.inf, -np.inf):
        with pytest.raises(ValueError) as info:
            cast_array(np.array([x], dtype=s), target_dtype=t, rounding_mode="nearest-even",
                       out_of_range_mode="wrap")
        assert str(info.value) == f"Cannot cast {fmt(x)} to integer type without scalar_map"


def test_clamp_examples():
    got = cast_array(np.array([300.7, -1e10, np.inf, -np.inf]), target_dtype="int8",
                     rounding_mode="nearest-even", out_of_range_mode="clamp")
    assert got.tolist() == [127, -128, 127, -128]
    got = cast_array(np.array([-2147483648.5, 2147483647.5, 1e300, -np.inf]), target_dtype="int32",
                     rounding_mode="towards-negative", out_of_range_mode="clamp")
    assert got.tolist() == [-2147483648, 2147483647, 2147483647, -2147483648]
    got = cast_array(np.array([-3.7, 0.5, 1.5, 254.5, 255.5, 300.0, np.inf, -np.inf], np.float32),
                     target_dtype="uint8", rounding_mode="towards-positive", out_of_range_mode="clamp")
    assert got.tolist() == [0, 1, 2, 255, 255, 255, 255, 0]


def test_failure_leaves_later_elements_untouched():
    out = np.full(3, 9, np.uint8)
    with pytest.raises(ValueError, match="^Value 300 out of range"):
        cast_array_into(np.array([1.0, 300.0, 2.0]), out, rounding_mode="nearest-even")
    assert out.tolist() == [1, 9, 9]


def test_kernel_runs_stop_at_the_block_holding_a_nan():
    a = np.arange(40, dtype=np.float32)
    a[20] = np.nan
    out = np.full(40, 200, np.uint8)
    with pytest.raises(ValueError, match=f"^{NOT_CASTABLE_NAN}$"):
        cast_array_into(a, out, rounding_mode="nearest-even", out_of_range_mode="clamp")
    stored = int(np.argmax(out == 200)) if (out == 200).any() else 40
    assert stored in (16, 20)  # a block of 16 (vector tiers) or element by element
    assert out[:stored].tolist() == list(range(stored))
    assert (out[stored:] == 200).all()


def test_scalar_map_bypasses_rounding_and_nan_test():
    got = cast_array(np.array([2.5, 2.4, np.nan], np.float32), target_dtype="uint8",
                     rounding_mode="nearest-even", scalar_map_entries=[(2.5, 9), (np.nan, 0)])
    assert got.tolist() == [9, 2, 0]
