import re

import numpy as np
import pytest

from _quellon import cast_array, cast_array_into
from messages import out_of_range

INTS = ["int8", "int16", "int32", "int64", "uint8", "uint16", "uint32", "uint64"]
PAIRS = [(s, t) for s in INTS for t in INTS]


def interesting_values(dtype):
    info = np.iinfo(dtype)
    edges = {info.min, info.min + 1, info.max, info.max - 1, 0, 1}
    for bits in (7, 8, 15, 16, 31, 32, 53, 63, 64):
        for v in (2**bits - 1, 2**bits, 2**bits + 1, -(2**bits), -(2**bits) - 1):
            edges.add(v)
    rng = np.random.default_rng(sum(map(ord, dtype)))
    values = [v for v in edges if info.min <= v <= info.max]
    values += [int(v) for v in rng.integers(info.min, info.max, size=200, dtype=dtype, endpoint=True)]
    return values


def expected(values, s, t, mode):
    si, ti = np.iinfo(s), np.iinfo(t)
    lo, hi = max(si.min, ti.min), min(si.max, ti.max)
    out = []
    for v in values:
        if lo <= v <= hi:
            out.append(v)
        elif mode == "clamp":
            out.append(min(max(v, ti.min), ti.max))
        elif mode == "wrap":
            out.append((v - ti.min) % 2**ti.bits + ti.min)
        else:
            return out, out_of_range(float(v), float(lo), float(hi))
    return out, None


@pytest.mark.parametrize("s, t", PAIRS)
@pytest.mark.parametrize("mode", [None, "clamp", "wrap"])
def test_every_pair_against_exact_integers(s, t, mode):
    values = interesting_values(s)
    if mode is None:  # in-range values only, then the first failure separately
        info_s, info_t = np.iinfo(s), np.iinfo(t)
        values = [v for v in values if max(info_s.min, info_t.min) <= v <= min(info_s.max, info_t.max)]
    want, error = expected(values, s, t, mode)
    assert error is None
    got = cast_array(np.array(values, dtype=s), target_dtype=t, rounding_mode="nearest-even",
                     out_of_range_mode=mode)
    assert got.dtype == np.dtype(t)
    assert got.tolist() == want


@pytest.mark.parametrize("s, t", [p for p in PAIRS
                                  if not (np.iinfo(p[1]).min <= np.iinfo(p[0]).min
                                          and np.iinfo(p[0]).max <= np.iinfo(p[1]).max)])
def test_checked_pairs_fail_at_the_first_out_of_range_element(s, t):
    info_s, info_t = np.iinfo(s), np.iinfo(t)
    lo, hi = max(info_s.min, info_t.min), min(info_s.max, info_t.max)
    bad = info_s.max if info_s.max > hi else info_s.min
    values = [lo, hi, bad, 0, bad]
    out = np.full(5, 7, dtype=t)
    with pytest.raises(ValueError) as info:
        cast_array_into(np.array(values, dtype=s), out, rounding_mode="towards-zero")
    assert str(info.value) == out_of_range(float(bad), float(lo), float(hi))
    assert out.tolist() == [lo, hi, 7, 7, 7]


@pytest.mark.parametrize("s, t, value, message_numbers", [
    ("int16", "uint8", 300, ("300", "0", "255")),
    ("int8", "uint8", -1, ("-1", "0", "127")),
    ("int64", "uint64", -1, ("-1", "0", "9223372036854776000")),
    ("uint64", "int64", 2**64 - 1, ("18446744073709552000", "0", "9223372036854776000")),
    ("int64", "int32", 2**53 + 1, ("9007199254740992", "-2147483648", "2147483647")),
    ("int32", "uint64", -5, ("-5", "0", "2147483647")),
    ("int64", "int8", -(2**63), ("-9223372036854776000", "-128", "127")),
])
def test_error_messages_write_float64_numbers(s, t, value, message_numbers):
    with pytest.raises(ValueError) as info:
        cast_array(np.array([value], dtype=s), target_dtype=t, rounding_mode="nearest-even")
    v, lo, hi = message_numbers
    assert str(info.value) == (f"Value {v} out of range [{lo}, {hi}]. "
                               "Set out_of_range='clamp' or out_of_range='wrap' to handle this.")


@pytest.mark.parametrize("s, t, mode, values, want", [
    ("int8", "uint8", "clamp", [-1], [0]),
    ("int8", "uint8", "wrap", [-1], [255]),
    ("uint64", "int64", "clamp", [2**64 - 1], [2**63 - 1]),
    ("uint64", "int64", "wrap", [2**64 - 1, 2**63], [-1, -(2**63)]),
    ("int64", "int32", "wrap", [4294967301, -2147483649], [5, 2147483647]),
    ("int32", "uint16", "clamp", [-5, 70000, 300], [0, 65535, 300]),
    ("int32", "uint8", "wrap", [300], [44]),
    ("int16", "int8", "wrap", [-129], [127]),
    ("int8", "uint16", "wrap", [-1], [65535]),
    ("int16", "int64", None, [-32768, 32767], [-32768, 32767]),
])
def test_mode_examples(s, t, mode, values, want):
    got = cast_array(np.array(values, dtype=s), target_dtype=t, rounding_mode="nearest-even",
                     out_of_range_mode=mode)
    assert got.tolist() == want


def test_partial_write_then_clamp_into_the_same_output():
    out = np.array([9, 9, 9], dtype=np.uint8)
    with pytest.raises(ValueError, match=re.escape(out_of_range(300.0, 0.0, 255.0))):
        cast_array_into(np.array([1, 300, 2], np.int32), out, rounding_mode="nearest-even")
    assert out.tolist() == [1, 9, 9]
    assert cast_array_into(np.array([1, 300, 2], np.int32), out, rounding_mode="nearest-even",
                           out_of_range_mode="clamp") is None
    assert out.tolist() == [1, 255, 2]


def test_large_multidimensional_runs_keep_positions():
    a = np.arange(-50000, 50000, dtype=np.int64).reshape(100, 1000)
    got = cast_array(a, target_dtype="int16", rounding_mode="nearest-even", out_of_range_mode="clamp")
    np.testing.assert_array_equal(got, np.clip(a, -32768, 32767).astype(np.int16))
    wrapped = cast_array(a, target_dtype="uint8", rounding_mode="nearest-even", out_of_range_mode="wrap")
    np.testing.assert_array_equal(wrapped, (a % 256).astype(np.uint8))
