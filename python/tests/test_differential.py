"""The module against the exact model of model.py over every pair and setting.

Runs are seeded and rich in special values: signed zeros, NaNs with payloads,
infinities, subnormals, the bounds of every element type and their
neighbours, ties, and the overflow edges of the narrow float types.
"""
import math
import random
from fractions import Fraction

import numpy as np
import pytest

from _quellon import cast_array, cast_array_into
from exact import round_exact
from model import (DTYPES, FLOAT_BITS, FLOATS, INT_RANGES, INTS, MODES, NE, OUT_OF_RANGE_MODES, Cast, Err,
                   from_bits, is_nan_bits, nearest, next_down, next_up, round_ratio, to_bits)

RUN = 160



def float_specials(s):
    """Bit patterns of values of float type s that sit on the edges of some rule."""
    bits = FLOAT_BITS[s]
    values = [0.0, 1.0, 0.5, 1.5, 2.5, 3.5, 0.49999997, 0.49999999999999994, 0.49975586, 2.4, 2.6,
              8388609.0, 16777215.0, 4503599627370497.0, 9007199254740991.0, 1025.0, 2049.0,
              65504.0, 65505.0, 65519.0, 65519.999, 65520.0, 65536.0, 70000.0, 32768.0, 32800.0,
              1.0004882821813226, 1.00048828125, 2.0**-24, 2.0**-25, 1.5 * 2.0**-25, 2.0**-14, 2.0**-126,
              2.0**-149, 2.0**-150, 1e-40, 1e-46, 3.4028234663852886e38, 3.4028235677973366e38, 1e39,
              1.7976931348623157e308, 2147483647.4, 2147483647.5, 2147483647.6, 2147483648.0,
              2.0**63, 2.0**64, 1e19, 3e9, 5e9, 300.7, 255.5, 255.4, 0.1, 1e300, 5e-324]
    for lo, hi in INT_RANGES.values():
        for edge in (lo, hi):
            values += [edge + d for d in (-1.5, -1, -0.5, -0.4, 0, 0.4, 0.5, 1, 1.5)]
    for t_bits in (16, 32):  # ties and overflow edges of the narrower float types
        top = from_bits(to_bits(math.inf, t_bits) - 1, t_bits)
        ulp = top - from_bits(to_bits(math.inf, t_bits) - 2, t_bits)
        values += [top + ulp / 2, top + ulp / 4, top + ulp * 0.75, 1 + 2.0**(-11 if t_bits == 16 else -24)]
    patterns = set()
    for v in values:
        for x in (v, -v):
            r = nearest(float(x), bits)
            patterns.add(to_bits(r, bits))
            patterns.update(to_bits(n(r, bits), bits) for n in (next_up, next_down) if math.isfinite(r))
    fraction = {16: 10, 32: 23, 64: 52}[bits]
    exponent = (1 << (bits - 1)) - (1 << fraction)
    sign = 1 << (bits - 1)
    for f in (1, 2, 1 << (fraction - 1), (1 << (fraction - 1)) | 5, (1 << fraction) - 1, 0x155):
        patterns.update((exponent | f, sign | exponent | f))  # NaNs, quiet and signalling, with payloads
    patterns.update((exponent, sign | exponent, 1, sign | 1, (1 << fraction) - 1, sign))
    return sorted(p for p in patterns if p < 1 << bits)


def int_specials(s):
    lo, hi = INT_RANGES[s]
    values = {lo, hi, 0, 1, -1, 2048, 2049, 2051, 65504, 65505, 65519, 65520, 65535, 70000, -70000,
              16777217, 16777219, 2**53 + 1, 2**63 + 2**39, 4294967301, -2147483649}
    for a, b in INT_RANGES.values():
        values.update(e + d for e in (a, b) for d in (-1, 0, 1))
    for k in range(1, 65):
        values.update(sign * (2**k) + d for sign in (1, -1) for d in (-3, -1, 0, 1, 3))
    for k in (11, 24, 40, 53, 60):  # float32 and binary16 ties, and values whose float64 is a tie
        values.update(((2**k + 2 * j + 1) << 3) + d for j in range(3) for d in (-1, 0, 1))
        values.update((1 << (k + 24)) + (1 << k) + d for d in (-1, 0, 1, 2))
    return sorted(v for v in values if lo <= v <= hi)


SPECIALS = {s: (float_specials(s) if s in FLOATS else int_specials(s)) for s in DTYPES}


def random_run(s, rng, n=RUN):
    """n elements of type s (ints, or bit patterns): mostly specials, some uniform bits, some small values."""
    bits = FLOAT_BITS.get(s)
    lo, hi = INT_RANGES.get(s, (0, 0))
    run = []
    for _ in range(n):
        pick = rng.random()
        if pick < 0.6:
            run.append(rng.choice(SPECIALS[s]))
        elif bits is None:
            run.append(rng.randint(lo, hi) if pick < 0.8 else max(lo, min(hi, rng.randint(-300, 300))))
        elif pick < 0.8:
            run.append(rng.getrandbits(bits))
        else:
            small = rng.randint(-600, 600) / rng.choice((1, 2, 4, 1024))
            run.append(to_bits(nearest(small, bits), bits))
    return run


def to_array(values, dtype):
    if dtype in FLOATS:
        return np.array(values, dtype=f"uint{FLOAT_BITS[dtype]}").view(dtype)
    return np.array(values, dtype=dtype)


def from_array(a):
    dtype = a.dtype.name
    if dtype in FLOATS:
        return a.view(f"uint{FLOAT_BITS[dtype]}").tolist()
    return a.tolist()


def python_value(x, dtype):
    """The Python object a caller would write for element x."""
    if dtype in FLOATS:
        bits = FLOAT_BITS[dtype]
        return math.nan if is_nan_bits(x, bits) else from_bits(x, bits)
    return x


def random_map(s, t, run, results, rng):
    """Entries covering some failing and some ordinary elements, NaN and zero entries, repeats."""
    chosen = [x for x, r in zip(run, results) if isinstance(r, Err)][:3] + rng.sample(run, 3)
    sources = [python_value(x, s) for x in chosen]
    if s in FLOATS:
        finite = [x for x in sources if math.isfinite(x) and x != 0]
        if finite and s != "float64":  # a wider value that rounds onto an element on the way in
            sources.append(rng.choice(finite) * (1 + 2.0**-40))
        sources += [math.nan, rng.choice((0.0, -0.0))]
    if t in FLOATS:
        pool = [0.0, -0.0, 1.5, -2.25, 0.1, 1e300, -math.inf, math.nan, 65519.0, 3.4028235e38, 7e-46]
        targets = [rng.choice(pool) for _ in sources]
    else:
        lo, hi = INT_RANGES[t]
        targets = [rng.choice((lo, hi, 0, 7, rng.randint(lo, hi))) for _ in sources]
    entries = list(zip(sources, targets))
    entries.append((sources[-1], targets[0]))  # a repeat: the first entry must win
    rng.shuffle(entries)
    return entries



def fresh_output(t, n, rng):
    """An output filled with random contents, so that untouched elements show."""
    if t in FLOATS:
        return to_array([rng.getrandbits(FLOAT_BITS[t]) for _ in range(n)], t)
    return np.array([rng.randint(*INT_RANGES[t]) for _ in range(n)], dtype=t)


def check_run(run, cast, entries, rng):
    """Both functions on one run; returns the number of elements compared with the model."""
    s, t, mode, oor = cast.s, cast.t, cast.mode, cast.oor
    a = to_array(run, s)
    out = fresh_output(t, len(run), rng)
    before = from_array(out)
    results = [cast.element(x) for x in run]
    outcomes = cast.outcomes(run, before, results)
    try:
        cast_array_into(a, out, rounding_mode=mode, out_of_range_mode=oor, scalar_map_entries=entries)
        message = None
    except ValueError as exc:
        message = str(exc)
    got = from_array(out)
    if (message, got) not in outcomes:
        describe_mismatch(run, cast, entries, message, got, outcomes)
    fail = next((i for i, r in enumerate(results) if isinstance(r, Err)), None)
    compared = sum(1 for g, r in zip(got[:fail], results) if g == r)

    messages = {m for m, _ in outcomes}
    try:
        result = cast_array(a, target_dtype=t, rounding_mode=mode, out_of_range_mode=oor,
                            scalar_map_entries=entries)
    except ValueError as exc:
        assert fail is not None and str(exc) in messages, (str(exc), messages)
    else:
        assert fail is None, f"the call succeeded, expected one of {messages}"
        assert result.dtype == np.dtype(t) and result.shape == a.shape
        if from_array(result) != results:
            describe_mismatch(run, cast, entries, None, from_array(result), outcomes)
        compared += len(run)
    return compared


def describe_mismatch(run, cast, entries, message, got, outcomes):
    lines = [f"{cast.s} -> {cast.t}, {cast.mode}, out_of_range={cast.oor}, map={entries}",
             f"module: {message!r}"]
    for want_message, want in outcomes:
        lines.append(f"model:  {want_message!r}")
        lines += [f"  [{i}] source {x:#x}: module {g!r}, model {w!r}"
                  for i, (x, g, w) in enumerate(zip(run, got, want)) if g != w][:12]
    pytest.fail("\n".join(lines))


def combos():
    return [(s, t) for s in DTYPES for t in DTYPES]


@pytest.mark.parametrize("s, t", combos())
def test_every_setting_against_the_model(s, t):
    """Each mode and out-of-range setting: a raw run, the run without its failing
    elements, and the raw run under a map that rescues some of them."""
    rng = random.Random(f"{s}->{t}")
    compared = 0
    for mode in MODES:
        for oor in OUT_OF_RANGE_MODES:
            run = random_run(s, rng)
            cast = Cast(s, t, mode, oor)
            compared += check_run(run, cast, None, rng)
            results = [cast.element(x) for x in run]
            clean = [x for x, r in zip(run, results) if not isinstance(r, Err)]
            if len(clean) < len(run):
                compared += check_run(clean, cast, None, rng)
            entries = random_map(s, t, run, results, rng)
            if rng.random() < 0.3:
                entries = dict(entries)
            compared += check_run(run, Cast(s, t, mode, oor, entries), entries, rng)
    assert compared >= 15 * RUN  # about 8400 per pair, a million over all pairs


KERNEL_SETTINGS = [
    ("float32", "uint8", "clamp"), ("float64", "uint8", "clamp"), ("float64", "int32", "clamp"),
    ("float64", "int32", None), ("float64", "float32", None), ("float64", "float32", "wrap"),
    ("float64", "float32", "clamp"),
]


@pytest.mark.parametrize("s, t, oor", KERNEL_SETTINGS)
def test_runs_of_the_vector_kernels_fail_where_the_model_allows(s, t, oor):
    """Lengths around the block sizes, failures placed in every position of a block,
    a NaN behind an out-of-range element of the same block."""
    rng = random.Random(f"kernels {s} {t} {oor}")
    bits = FLOAT_BITS[s]
    strict = [Cast(s, t, m, None) for m in MODES]
    inside = [x for x in SPECIALS[s] if not any(isinstance(c.element(x), Err) for c in strict)]
    bad = [to_bits(nearest(v, bits), bits) for v in (3e9, -3e9, 1e39, -1e300, 2147483647.6, -2147483648.6)] + \
        [to_bits(math.inf, bits) + 1, (1 << bits) - 1]  # NaNs
    modes = MODES if t != "float32" else [NE, "towards-zero", "nearest-away"]
    compared = 0
    for mode in modes:
        cast = Cast(s, t, mode, oor)
        for n in (0, 1, 3, 4, 5, 7, 8, 9, 15, 16, 17, 20, 31, 33, 40):
            run = [rng.choice(inside) for _ in range(n)]
            for _ in range(rng.randint(0, 2) if n else 0):
                run[rng.randrange(n)] = rng.choice(bad)
            if n >= 8 and rng.random() < 0.5:
                start = rng.randrange(0, n - 3) // 4 * 4
                run[start + rng.randrange(2)] = bad[0]
                run[start + 2 + rng.randrange(2)] = bad[-1]
            compared += check_run(run, cast, None, rng)
    assert compared > len(modes) * 100


def test_fast_rounding_of_the_model_agrees_with_fraction_rounding():
    rng = random.Random(7)
    for _ in range(3000):
        num = rng.choice((rng.getrandbits(rng.randrange(1, 90)), rng.randrange(-2**70, 2**70))) or 1
        den = rng.choice((1, 3, 1 << rng.randrange(0, 1100), rng.getrandbits(64) | 1))
        bits, mode = rng.choice((16, 32, 64)), rng.choice(MODES)
        got, want = round_ratio(num, den, bits, mode), round_exact(Fraction(num, den), bits, mode)
        assert (got, math.copysign(1, got)) == (want, math.copysign(1, want)), (num, den, bits, mode)


def decoded(result, t):
    return result if isinstance(result, Err) or t in INTS else from_bits(result, FLOAT_BITS[t])


@pytest.mark.parametrize("s, t, mode, oor, x, want", [
    # the true nearest integer, ties away from zero
    ("float32", "int32", "nearest-away", None, 0.49999997, 0),
    ("float32", "int32", "nearest-away", None, 8388609.0, 8388609),
    ("float64", "int64", "nearest-away", None, 0.49999999999999994, 0),
    ("float16", "int8", "nearest-away", None, -2.5, -3),
    # bounds in the source type, wrap arithmetic in it
    ("float32", "int32", NE, None, 2147483648.0, 2147483647),
    ("float32", "uint32", NE, "wrap", -1.0, 4294967295),
    ("float32", "uint32", NE, "wrap", -200.0, 4294967040),
    ("float64", "uint32", NE, "wrap", -200.0, 4294967096),
    ("float64", "uint64", NE, "wrap", -4096.0, 18446744073709547520),
    ("float16", "int16", NE, "wrap", 32800.0, 0),
    ("float16", "int16", NE, "wrap", -32800.0, 32767),
    ("float16", "uint16", NE, None, math.inf, 65535),
    ("float64", "uint8", NE, None, 255.5, "Value 256 out of range [0, 255]."),
    ("float16", "uint16", NE, None, -1.0, "Value -1 out of range [0, inf]."),
    ("float16", "int32", NE, "wrap", math.inf, "Cannot cast inf to integer type"),
    # integers to floats
    ("int32", "float32", "nearest-away", None, 16777217, 16777218.0),
    ("int32", "float32", "nearest-away", None, 16777219, 16777220.0),
    ("int16", "float16", "towards-positive", None, 2049, 2050.0),
    ("uint16", "float16", "towards-zero", None, 65535, 65504.0),
    ("uint16", "float16", "nearest-away", None, 65535, math.inf),
    ("int64", "float32", "towards-positive", None, 2**53 + 1, 2.0**53),
    ("int64", "float64", "towards-positive", None, 2**53 + 1, 2.0**53),
    # floats to floats
    ("float64", "float16", NE, None, 65519.999, "Value 65519.999 out of range [-65504, 65504]."),
    ("float64", "float16", "nearest-away", None, 1.0004882821813226, 1.0),
    ("float64", "float16", "towards-positive", None, 1.0004882821813226, 1.0009765625),
    ("float32", "float16", "nearest-away", None, 1.00048828125, 1.0009765625),
    ("float64", "float32", "nearest-away", None, -2.0**-150, -1.401298464324817e-45),
    ("float64", "float32", "towards-positive", None, -2.0**-150, -0.0),
    ("float64", "float32", "towards-negative", None, 1e39, 3.4028234663852886e38),
    ("float32", "float16", "towards-zero", None, 70000.0, 65504.0),
    ("float32", "float16", NE, "clamp", 70000.0, math.inf),
    ("float32", "float16", NE, "wrap", 70000.0, "Value 70000 out of range [-65504, 65504]."),
    # integers to integers
    ("int64", "uint64", NE, None, -1, "Value -1 out of range [0, 9223372036854776000]."),
    ("uint64", "int64", NE, "wrap", 2**63, -2**63),
    ("int16", "int8", NE, "wrap", -129, 127),
])
def test_the_model_reproduces_worked_examples(s, t, mode, oor, x, want):
    source = to_bits(x, FLOAT_BITS[s]) if s in FLOATS else x
    got = decoded(Cast(s, t, mode, oor).element(source), t)
    if isinstance(want, str):
        assert isinstance(got, Err) and got.message.startswith(want)
    else:
        assert not isinstance(got, Err) and got == want and math.copysign(1, got) == math.copysign(1, want)


def test_nan_patterns_follow_the_conversion_rules():
    cases = [("float32", "float16", 0x7F800001, 0x7E00), ("float16", "float32", 0x7C01, 0x7FC02000),
             ("float64", "float32", 0xFFF0000000000001, 0xFFC00000), ("float16", "float64", 0xFD55, 0xFFFD540000000000),
             ("float32", "float32", 0x7F800001, 0x7F800001)]
    for s, t, source, want in cases:
        for mode in MODES:
            assert Cast(s, t, mode, None).element(source) == want
