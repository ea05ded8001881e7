"""An exact model of every cast, written from the rules alone.

Arithmetic is done on rationals and rounded with `exact`; float elements
travel as bit patterns so that NaN signs and payloads can be followed.
Integer elements are Python ints. Nothing here calls the module.
"""
import functools
import math
import operator
import struct
from fractions import Fraction

from exact import FLOAT_BITS, MODES, max_finite
from messages import fmt, out_of_range

INT_RANGES = {
    "int8": (-2**7, 2**7 - 1), "int16": (-2**15, 2**15 - 1), "int32": (-2**31, 2**31 - 1),
    "int64": (-2**63, 2**63 - 1), "uint8": (0, 2**8 - 1), "uint16": (0, 2**16 - 1),
    "uint32": (0, 2**32 - 1), "uint64": (0, 2**64 - 1),
}
INTS = list(INT_RANGES)
FLOATS = list(FLOAT_BITS)
DTYPES = INTS + FLOATS
OUT_OF_RANGE_MODES = [None, "clamp", "wrap"]
NE = "nearest-even"

_PACK = {16: "<e", 32: "<f", 64: "<d"}
_UINT = {16: "<H", 32: "<I", 64: "<Q"}
_FRACTION_BITS = {16: 10, 32: 23, 64: 52}



def to_bits(x: float, bits: int) -> int:
    """The pattern of a non-NaN value that format `bits` holds exactly."""
    return struct.unpack(_UINT[bits], struct.pack(_PACK[bits], x))[0]


def from_bits(b: int, bits: int) -> float:
    return struct.unpack(_PACK[bits], struct.pack(_UINT[bits], b))[0]


def is_nan_bits(b: int, bits: int) -> bool:
    f = _FRACTION_BITS[bits]
    exponent_mask = (1 << (bits - 1)) - (1 << f)
    return b & exponent_mask == exponent_mask and b & ((1 << f) - 1) != 0


def convert_nan(b: int, source_bits: int, target_bits: int) -> int:
    """A NaN between formats: sign kept, leading payload bits kept, made quiet."""
    if source_bits == target_bits:
        return b
    fs, ft = _FRACTION_BITS[source_bits], _FRACTION_BITS[target_bits]
    fraction = b & ((1 << fs) - 1)
    fraction = fraction >> (fs - ft) if fs > ft else fraction << (ft - fs)
    sign = b >> (source_bits - 1)
    exponent_mask = (1 << (target_bits - 1)) - (1 << ft)
    return (sign << (target_bits - 1)) | exponent_mask | fraction | (1 << (ft - 1))


def next_up(x: float, bits: int) -> float:
    """The adjacent value of format `bits` towards +infinity, stepped on the pattern."""
    if x == 0:
        return from_bits(1, bits)
    b = to_bits(x, bits)
    return from_bits(b + 1 if x > 0 else b - 1, bits)


def next_down(x: float, bits: int) -> float:
    if x == 0:
        return -from_bits(1, bits)
    b = to_bits(x, bits)
    return from_bits(b - 1 if x > 0 else b + 1, bits)



_FORMATS = {16: (11, -14), 32: (24, -126), 64: (53, -1022)}
_MAX = {bits: float(max_finite(bits)) for bits in (16, 32, 64)}


def round_ratio(num: int, den: int, bits: int, mode: str) -> float:
    """num/den (den > 0) rounded into format `bits` under `mode`, overflow as in IEEE 754."""
    if num == 0:
        return 0.0
    negative = num < 0
    num = -num if negative else num
    p, emin = _FORMATS[bits]
    e = num.bit_length() - den.bit_length()
    if (num << -e if e < 0 else num) < (den << e if e > 0 else den):
        e -= 1  # now 2^e <= num/den < 2^(e+1)
    k = max(e, emin) - p + 1  # exponent of one unit in the last place
    n, d = (num, den << k) if k >= 0 else (num << -k, den)
    m, rest = divmod(n, d)
    if rest:
        if mode == "towards-positive":
            m += not negative
        elif mode == "towards-negative":
            m += negative
        elif mode != "towards-zero":
            twice = 2 * rest
            m += twice > d or (twice == d and (mode == "nearest-away" or m % 2 == 1))
    value = math.ldexp(m, k) if m.bit_length() + k <= 1024 else math.inf
    if value > _MAX[bits]:
        away = mode in (NE, "nearest-away") or mode == ("towards-negative" if negative else "towards-positive")
        value = math.inf if away else _MAX[bits]
    return -value if negative else value


def round_value(x, bits: int, mode: str = "nearest-even") -> float:
    """An int or float rounded into format `bits`; NaN, infinities and signed zeros pass through."""
    if isinstance(x, float):
        if not math.isfinite(x) or x == 0:
            return x
        r = round_ratio(*x.as_integer_ratio(), bits, mode)
        return math.copysign(r, x) if r == 0 else r
    return round_ratio(x.numerator, x.denominator, bits, mode)


def nearest(x, bits: int) -> float:
    """x rounded to nearest-even in format `bits`; binary16 is reached through binary32."""
    if bits == 16:
        return round_value(round_value(x, 32), 16)
    return round_value(x, bits)


def round_to_integer(x: float, mode: str) -> float:
    """A finite or infinite float rounded to an integral value (nearest-away: the true nearest, ties away)."""
    if not math.isfinite(x) or x == 0:
        return x
    num, den = x.as_integer_ratio()
    floor, rest = divmod(num, den)
    if rest:
        if mode == "towards-positive" or (mode == "towards-zero" and num < 0):
            floor += 1
        elif mode in (NE, "nearest-away"):
            twice = 2 * rest
            if twice > den or (twice == den and (floor % 2 == 1 if mode == NE else num > 0)):
                floor += 1
    return math.copysign(float(floor), x)


def arith(a: float, b: float, op, bits: int) -> float:
    """a op b in the arithmetic of format `bits` (binary16 computes in binary32, then rounds back)."""
    if not (math.isfinite(a) and math.isfinite(b)):
        return op(a, b)  # the IEEE result for infinities and NaN is the float one
    return nearest(op(Fraction(a), Fraction(b)), bits)


def rem_euclid(a: float, m: float, bits: int) -> float:
    """The Euclidean remainder computed in the working precision of format `bits`."""
    working = 32 if bits == 16 else bits
    if math.isnan(a) or math.isinf(a) or math.isnan(m) or m == 0:
        r = math.nan
    elif math.isinf(m):
        r = a
    else:
        q, mod = Fraction(a), Fraction(m)
        exact = q - mod * math.trunc(q / mod)  # fmod is exact
        r = float(exact) if exact != 0 else math.copysign(0.0, a)
    if r < 0:
        r = math.inf if math.isinf(m) else round_value(Fraction(r) + abs(Fraction(m)), working)
    return nearest(r, 16) if bits == 16 else r



class Err:
    """A failing element: the message its CastError displays."""

    __slots__ = ("message",)

    def __init__(self, message: str):
        self.message = message

    def __repr__(self):
        return f"Err({self.message!r})"


def not_castable(v: float) -> Err:
    return Err(f"Cannot cast {fmt(v)} to integer type without scalar_map")



class MapValueError(Exception):
    pass


def extract(obj, dtype: str):
    """The element value (int, or bit pattern for floats) an object converts to."""
    if dtype in INT_RANGES:
        lo, hi = INT_RANGES[dtype]
        try:
            v = operator.index(obj)
        except Exception as exc:
            raise MapValueError from exc
        if dtype != "uint64" and not -2**63 <= v < 2**63:
            raise MapValueError  # beyond the C long
        if not lo <= v <= hi:
            raise MapValueError
        return v
    bits = FLOAT_BITS[dtype]
    if type(obj) is float:
        x = obj
    elif isinstance(obj, (str, bytes)):
        raise MapValueError
    else:
        try:
            if hasattr(type(obj), "__float__"):
                x = type(obj).__float__(obj)
            else:
                x = float(operator.index(obj))
        except Exception as exc:
            raise MapValueError from exc
    if math.isnan(x):
        b = struct.unpack("<Q", struct.pack("<d", x))[0]
        return convert_nan(b, 64, bits)
    return to_bits(nearest(x, bits), bits)


def parse_map(entries, s: str, t: str):
    """Typed (source, target) pairs of a well-formed map; float sources as floats."""
    if entries is None:
        return []
    items = list(entries.items()) if isinstance(entries, dict) else [tuple(e) for e in entries]
    pairs = []
    for source, target in items:
        sv = extract(source, s)
        if s in FLOAT_BITS:
            sb = FLOAT_BITS[s]
            sv = math.nan if is_nan_bits(sv, sb) else from_bits(sv, sb)
        pairs.append((sv, extract(target, t)))
    return pairs


def lookup(pairs, x, float_source: bool):
    """The target of the first entry matching x, or None."""
    for source, target in pairs:
        if float_source and math.isnan(x):
            if math.isnan(source):
                return target
        elif source == x:  # a NaN entry never equals a number; 0.0 == -0.0
            return target
    return None



@functools.cache
def int_bounds_in_float(s: str, t: str):
    """L, H, W of a float-to-integer pair, in the source type."""
    bits = FLOAT_BITS[s]
    lo_i, hi_i = INT_RANGES[t]
    lo, hi = nearest(lo_i, bits), nearest(hi_i, bits)
    w = arith(arith(hi, lo, operator.sub, bits), 1.0, operator.add, bits)
    return lo, hi, w


def saturate(v: float, t: str) -> int:
    lo, hi = INT_RANGES[t]
    if math.isnan(v):
        return 0
    if v >= hi:
        return hi
    if v <= lo:
        return lo
    return int(v)


def int_to_int(v: int, s, t, mode, oor):
    lo, hi = max(INT_RANGES[s][0], INT_RANGES[t][0]), min(INT_RANGES[s][1], INT_RANGES[t][1])
    if lo <= v <= hi:
        return v
    if oor is None:
        return Err(out_of_range(float(v), float(lo), float(hi)))
    tlo, thi = INT_RANGES[t]
    if oor == "clamp":
        return tlo if v < lo else thi
    width = thi - tlo + 1
    return (v - tlo) % width + tlo


def float_to_int(x: float, s, t, mode, oor):
    if math.isnan(x):
        return not_castable(x)
    r = round_to_integer(x, mode)  # nearest-away: the true nearest integer, ties away
    bits = FLOAT_BITS[s]
    lo, hi, w = int_bounds_in_float(s, t)
    inside = lo <= r <= hi
    if oor is None:
        return saturate(r, t) if inside else Err(out_of_range(r, lo, hi))
    if oor == "clamp":
        return saturate(lo if r < lo else hi if r > hi else r, t)
    if math.isinf(r):
        return not_castable(r)
    if inside:
        return saturate(r, t)
    shifted = arith(r, lo, operator.sub, bits)
    return saturate(arith(rem_euclid(shifted, w, bits), lo, operator.add, bits), t)


def int_to_float(v: int, s, t, mode, oor):
    bits = FLOAT_BITS[t]
    r = nearest(v, bits)
    if mode == NE or bits == 64:
        return to_bits(r, bits)
    w = float(v)  # exactness is judged against the nearest float64
    d = r
    if d != w:
        if mode == "towards-zero":
            if abs(d) > abs(w):
                r = next_down(r, bits) if v >= 0 else next_up(r, bits)
        elif mode == "towards-positive":
            if w > d:
                r = next_up(r, bits)
        elif mode == "towards-negative":
            if d > w:
                r = next_down(r, bits)
        else:
            t_ = next_up(r, bits) if w > d else next_down(r, bits)
            if _is_midpoint(w, d, t_) and abs(t_) > abs(r):
                r = t_
    return to_bits(r, bits)


def _is_midpoint(x: float, a: float, b: float) -> bool:
    if not (math.isfinite(a) and math.isfinite(b)):
        return False  # the float64 midpoint is infinite, never a finite x
    return Fraction(x) == (Fraction(a) + Fraction(b)) / 2


def float_to_float(xb: int, s, t, mode, oor):
    sb, tb = FLOAT_BITS[s], FLOAT_BITS[t]
    if s == t:
        return xb
    if is_nan_bits(xb, sb):
        return convert_nan(xb, sb, tb)
    x = from_bits(xb, sb)
    if tb > sb:
        return to_bits(x, tb)
    r = nearest(x, tb)
    if mode != NE and r != x:
        if mode == "towards-zero":
            if abs(r) > abs(x):
                r = next_down(r, tb) if x >= 0 else next_up(r, tb)
        elif mode == "towards-positive":
            if r < x:
                r = next_up(r, tb)
        elif mode == "towards-negative":
            if r > x:
                r = next_down(r, tb)
        else:
            m = next_up(r, tb) if x > r else next_down(r, tb)
            if _is_midpoint(x, r, m) and abs(m) > abs(r):
                r = m
    if math.isfinite(x) and math.isinf(r) and oor != "clamp":
        top = float(max_finite(tb))
        return Err(out_of_range(x, -top, top))
    return to_bits(r, tb)


class Cast:
    """One setting of a cast: converts elements and predicts whole calls."""

    def __init__(self, s, t, mode, oor=None, entries=None):
        assert mode in MODES and oor in OUT_OF_RANGE_MODES
        self.s, self.t, self.mode, self.oor = s, t, mode, oor
        self.pairs = parse_map(entries, s, t)
        self.float_source = s in FLOAT_BITS

    def element(self, x):
        """x (int, or bit pattern for a float source) converted: an int, a bit pattern or an Err."""
        s, t = self.s, self.t
        value = x
        if self.float_source:
            sb = FLOAT_BITS[s]
            value = math.nan if is_nan_bits(x, sb) else from_bits(x, sb)
        if self.pairs:
            mapped = lookup(self.pairs, value, self.float_source)
            if mapped is not None:
                return mapped
        if not self.float_source:
            family = int_to_int if t in INT_RANGES else int_to_float
            return family(value, s, t, self.mode, self.oor)
        if t in INT_RANGES:
            return float_to_int(value, s, t, self.mode, self.oor)
        return float_to_float(x, s, t, self.mode, self.oor)

    def kernel(self):
        """Which vector kernel may take a run of this setting, if any."""
        if self.pairs:
            return None
        s, t, mode, oor = self.s, self.t, self.mode, self.oor
        if mode != "nearest-away":
            if oor == "clamp" and (s, t) in (("float32", "uint8"), ("float64", "uint8"), ("float64", "int32")):
                return "clamp"
            if oor is None and (s, t) == ("float64", "int32"):
                return "check"
        if (s, t) == ("float64", "float32") and mode == NE and oor != "clamp":
            return "f64-to-f32"
        return None

    def outcomes(self, xs, before, results=None):
        """Every acceptable (error message or None, destination afterwards) of one run.

        `before` is the destination's content before the call. The first
        outcome is the element loop's; kernels may add others.
        """
        if results is None:
            results = [self.element(x) for x in xs]
        fail = next((i for i, r in enumerate(results) if isinstance(r, Err)), None)
        if fail is None:
            return [(None, results)]

        def state(p):
            return results[:p] + list(before[p:])

        found = [(results[fail].message, state(fail))]
        n, kernel = len(xs), self.kernel()
        if kernel == "clamp":
            blocks = {("float32", "uint8"): (16, 8), ("float64", "uint8"): (16, 4)}.get((self.s, self.t), (4,))
            for size in blocks:
                if fail < n - n % size:
                    found.append((results[fail].message, state(fail // size * size)))
        elif kernel == "check":
            found.append(self._check_kernel(xs, results, fail, state))
        elif kernel == "f64-to-f32":
            stored = Cast(self.s, self.t, self.mode, "clamp")
            found.append((results[fail].message, [stored.element(x) for x in xs]))
        return found

    def _check_kernel(self, xs, results, fail, state):
        """float64 to int32 without a mode on a vector tier: blocks of four, NaN first, unrounded values."""
        n = len(xs)
        start, end = (fail // 4 * 4, fail // 4 * 4 + 4) if fail < n - n % 4 else (fail, fail + 1)
        block = [from_bits(x, 64) if not is_nan_bits(x, 64) else math.nan for x in xs[start:end]]
        nan = next((v for v in block if math.isnan(v)), None)
        if nan is not None:
            return not_castable(nan).message, state(start)
        first = next(i for i in range(start, end) if isinstance(results[i], Err))
        return out_of_range(from_bits(xs[first], 64), -2.0**31, 2.0**31 - 1), state(start)
