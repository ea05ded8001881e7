from fractions import Fraction

import numpy as np
import pytest

from _quellon import cast_array
from exact import FLOAT_BITS, MODES, round_exact

INTS = ["int8", "int16", "int32", "int64", "uint8", "uint16", "uint32", "uint64"]
FLOATS = ["float16", "float32", "float64"]


def expected(v, target, mode):
    bits = FLOAT_BITS[target]
    if bits == 64 or mode == "nearest-even":
        return round_exact(v, bits, "nearest-even")
    # Exactness and ties are judged against the float64 nearest to v, which
    # for 64-bit sources beyond 2^53 is itself rounded.
    return round_exact(Fraction(float(v)), bits, mode)


def sample(dtype, seed):
    info = np.iinfo(dtype)
    rng = np.random.default_rng(seed)
    values = set(int(v) for v in rng.integers(info.min, info.max, size=1500, dtype=dtype, endpoint=True))
    for k in range(1, info.bits + 1):
        for base in (2**k, -(2**k)):
            for d in (-3, -2, -1, 0, 1, 2, 3):
                values.add(base + d)
    for center in (2049, 65504, 65519, 65520, 16777217, 2**53 + 1, 2**63 + 2**39):
        for d in range(-3, 4):
            values.update((center + d, -(center + d)))
    # ties of float32 beyond 2^24 and of binary16 beyond 2^11
    values.update(2**24 + 2 * k + 1 for k in range(20))
    values.update(2**11 + 2 * k + 1 for k in range(20))
    values.update((2**40 + 2 * k + 1) << 20 for k in range(20))
    return sorted(v for v in values if info.min <= v <= info.max)


@pytest.mark.parametrize("s", INTS)
@pytest.mark.parametrize("t", FLOATS)
@pytest.mark.parametrize("mode", MODES)
def test_every_pair_against_exact_rounding(s, t, mode):
    values = sample(s, seed=len(s) * 31 + len(t))
    got = cast_array(np.array(values, dtype=s), target_dtype=t, rounding_mode=mode)
    assert got.dtype == np.dtype(t)
    got = got.astype(np.float64).tolist()
    want = [expected(v, t, mode) for v in values]
    bad = [(v, g, w) for v, g, w in zip(values, got, want) if g != w]
    assert not bad, bad[:5]


@pytest.mark.parametrize("s, t, value, by_mode", [
    ("int32", "float32", 16777217, dict(zip(MODES, [16777216, 16777216, 16777218, 16777216, 16777218]))),
    ("int32", "float32", -16777217, dict(zip(MODES, [-16777216, -16777216, -16777216, -16777218, -16777218]))),
    ("int32", "float32", 16777219, {"nearest-even": 16777220, "nearest-away": 16777220}),
    ("int16", "float16", 2049, {"nearest-even": 2048, "nearest-away": 2050, "towards-positive": 2050,
                                "towards-zero": 2048}),
    ("uint16", "float16", 65535, dict(zip(MODES, [np.inf, 65504, np.inf, 65504, np.inf]))),
    ("int32", "float16", -70000, {"nearest-even": -np.inf, "towards-zero": -65504,
                                  "towards-positive": -65504, "towards-negative": -np.inf}),
    ("uint16", "float16", 65519, {"nearest-even": 65504, "nearest-away": 65504}),
    ("uint16", "float16", 65520, {"nearest-even": np.inf, "nearest-away": np.inf}),
    ("int64", "float64", 2**53 + 1, dict(zip(MODES, [2.0**53] * 5))),
    # the exactness test is made in float64, which cannot tell 2^53 + 1 from 2^53
    ("int64", "float32", 2**53 + 1, {"towards-positive": 2.0**53}),
    ("uint64", "float64", 2**64 - 1, {"nearest-even": 2.0**64}),
    ("uint64", "float64", 2**63 + 1, {"nearest-even": 2.0**63}),
    # float64 rounds 2^64 - 1 up to 2^64, the float32 result itself: it counts as exact
    ("uint64", "float32", 2**64 - 1, {"nearest-even": 2.0**64, "towards-zero": 2.0**64}),
    # just below a float32 midpoint whose float64 is the midpoint: a tie for nearest-away
    ("uint64", "float32", 2**64 - 2**39 - 1, {"nearest-even": 2.0**64 - 2**40, "nearest-away": 2.0**64}),
    ("uint64", "float32", 2**63 + 2**39, {"nearest-even": 2.0**63, "nearest-away": 2.0**63 + 2**40}),
])
def test_documented_examples(s, t, value, by_mode):
    for mode, want in by_mode.items():
        got = cast_array(np.array([value], dtype=s), target_dtype=t, rounding_mode=mode)
        assert float(got[0]) == want, mode


@pytest.mark.parametrize("s", ["int8", "uint8"])
def test_byte_sources_are_exact_under_every_mode(s):
    values = np.arange(np.iinfo(s).min, np.iinfo(s).max + 1).astype(s)
    for t in FLOATS:
        results = {mode: cast_array(values, target_dtype=t, rounding_mode=mode).tolist() for mode in MODES}
        assert all(r == values.astype(np.float64).tolist() for r in results.values())


def test_map_and_run_lengths():
    got = cast_array(np.array([5, 6, 16777217], np.int32), target_dtype="float32",
                     rounding_mode="towards-positive", scalar_map_entries=[(5, 0.5)])
    assert got.tolist() == [0.5, 6.0, 16777218.0]
    empty = cast_array(np.zeros((0, 2), np.uint64), target_dtype="float16", rounding_mode="nearest-away")
    assert empty.shape == (0, 2) and empty.dtype == np.float16
