"""Exact rounding of rationals into binary16/32/64, independent of the module.

Values are Python floats (binary64), which hold every binary16 and binary32
value exactly; infinities stand for overflow.
"""
import math
from fractions import Fraction

# precision (significand bits incl. the hidden one), smallest normal exponent, largest exponent
FORMATS = {16: (11, -14, 15), 32: (24, -126, 127), 64: (53, -1022, 1023)}
FLOAT_BITS = {"float16": 16, "float32": 32, "float64": 64}
MODES = ["nearest-even", "towards-zero", "towards-positive", "towards-negative", "nearest-away"]


def max_finite(bits):
    p, _, emax = FORMATS[bits]
    return (2 - Fraction(1, 2 ** (p - 1))) * Fraction(2) ** emax


def round_integer(q: Fraction, mode: str, negative: bool) -> int:
    """Rounds a non-negative rational to an integer; `negative` is the sign of the true value."""
    floor = q.numerator // q.denominator
    frac = q - floor
    if frac == 0:
        return floor
    if mode == "towards-zero":
        return floor
    if mode == "towards-positive":
        return floor if negative else floor + 1
    if mode == "towards-negative":
        return floor + 1 if negative else floor
    half = Fraction(1, 2)
    if frac != half:
        return floor + (frac > half)
    if mode == "nearest-away":
        return floor + 1
    return floor + (floor % 2)  # nearest-even


def round_exact(q, bits: int, mode: str) -> float:
    """The value of format `bits` that rational q rounds to under `mode` (IEEE 754 semantics)."""
    q = Fraction(q)
    if q == 0:
        return 0.0
    negative = q < 0
    a = -q if negative else q
    p, emin, emax = FORMATS[bits]
    e = a.numerator.bit_length() - a.denominator.bit_length()
    if Fraction(2) ** e > a:
        e -= 1
    e = max(e, emin)
    quantum = Fraction(2) ** (e - p + 1)
    m = round_integer(a / quantum, mode, negative)
    value = m * quantum
    if value > max_finite(bits):
        away = mode in ("nearest-even", "nearest-away") or mode == ("towards-negative" if negative else "towards-positive")
        result = math.inf if away else float(max_finite(bits))
    else:
        result = float(value)
    return -result if negative else result


def round_float(x: float, bits: int, mode: str) -> float:
    """A float rounded into format `bits`; NaN, infinities and signed zeros pass through."""
    if math.isnan(x) or math.isinf(x):
        return x
    if x == 0:
        return x
    r = round_exact(Fraction(x), bits, mode)
    return math.copysign(r, x) if r == 0 else r


def round_to_integer(x: float, mode: str) -> float:
    """x rounded to an integral value (the nearest-away rounding is the true one)."""
    if math.isnan(x) or math.isinf(x) or x == 0:
        return x
    q = Fraction(x)
    r = round_integer(abs(q), mode, q < 0)
    return math.copysign(float(r), x)
