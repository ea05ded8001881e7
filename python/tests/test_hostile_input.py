"""Random objects in every argument position of both functions.

Every call must succeed or raise one TypeError or ValueError with one of the
module's messages (or let the caller's own exception through), and the first
failing check must be the one the argument rules name. `out` is never written
before a binding, layout or map error; `arr` is never written at all unless it
shares memory with `out`. Successful calls and conversion errors are checked
against the exact model.
"""
import math
import re
from decimal import Decimal
from fractions import Fraction

import numpy as np
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

from _quellon import cast_array, cast_array_into
from model import DTYPES, FLOAT_BITS, FLOATS, INT_RANGES, MODES, Cast, MapValueError, extract, to_bits

SETTINGS = settings(max_examples=600, derandomize=True, deadline=None, database=None,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])

POSITIONAL = {"cast_array": ["arr"], "cast_array_into": ["arr", "out"]}
KEYWORD_REQUIRED = {"cast_array": ["target_dtype", "rounding_mode"], "cast_array_into": ["rounding_mode"]}
KEYWORD_OPTIONAL = ["out_of_range_mode", "scalar_map_entries"]
FUNCTIONS = {"cast_array": cast_array, "cast_array_into": cast_array_into}

NOT_ITERABLE = "scalar_map_entries must be a dict or an iterable of (source, target) pairs"
NOT_A_PAIR = "Each scalar_map entry must be a (source, target) pair"
MAP_MESSAGE = re.compile(r"scalar_map (source|target) value .*: expected a value convertible to \1 dtype \w+",
                         re.DOTALL)
CAST_ERROR = re.compile(r"(Value .* out of range \[.*\]\. Set out_of_range='clamp' or out_of_range='wrap' to "
                        r"handle this\.|Cannot cast .* to integer type without scalar_map)", re.DOTALL)
OUTPUT_LAYOUT = "Output array must be contiguous and writeable"


class Hostile(Exception):
    """The caller's own exception, raised from the caller's objects."""


def hooked(raising, index=None, number=None):
    """An object whose listed hooks raise Hostile; the others behave or are absent."""
    def fail(*_):
        raise Hostile("hook")

    namespace = {"__repr__": fail if "repr" in raising else lambda self: "Hooked()",
                 "__str__": fail if "str" in raising else lambda self: "hooked"}
    if "index" in raising or index is not None:
        namespace["__index__"] = fail if "index" in raising else lambda self: index
    if "float" in raising or number is not None:
        namespace["__float__"] = fail if "float" in raising else lambda self: number
    if "len" in raising:
        namespace["__len__"] = fail
    if "getitem" in raising:
        namespace["__len__"] = lambda self: 2
        namespace["__getitem__"] = fail
    if "iter" in raising:
        namespace["__iter__"] = fail
    return type("Hooked", (), namespace)()


def raising_generator(pairs):
    yield from pairs
    raise Hostile("iteration")



def float_bits(bits):
    specials = [to_bits(v, bits) for v in (0.0, -0.0, 1.5, -2.5, 255.5, 65504.0, math.inf, -math.inf)]
    nans = [(1 << bits) - 1, to_bits(math.inf, bits) + 1, to_bits(-math.inf, bits) + 3]
    return st.one_of(st.sampled_from(specials + nans), st.integers(0, (1 << bits) - 1))


def element_values(dtype):
    if dtype.name in FLOATS:
        return float_bits(FLOAT_BITS[dtype.name])
    lo, hi = INT_RANGES[dtype.name]
    edges = [v for v in (lo, hi, 0, 1, -1, 127, 128, 255, 256, -129) if lo <= v <= hi]
    return st.one_of(st.sampled_from(edges), st.integers(lo, hi))


SHAPES = st.sampled_from([(), (0,), (1,), (2,), (5,), (9,), (17,), (2, 3), (3, 2), (3, 0, 2), (1, 4), (4, 1)])
OTHER_DTYPES = [np.bool_, np.complex64, np.complex128, np.clongdouble, np.longdouble, "datetime64[s]",
                "timedelta64[ns]", object, "U3", "S4", "V8", [("a", "<i4"), ("b", "<f8")]]
LAYOUTS = ["c", "c", "f", "strided", "reversed", "misaligned", "readonly", "subclass", "broadcast"]


class Tagged(np.ndarray):
    pass


def place(values, dtype, shape, layout):
    """A C-ordered array of `values` re-laid out; the logical content stays `values`."""
    if layout == "f":
        return np.asfortranarray(values)
    if layout == "strided":
        wide = np.zeros(shape[:-1] + (shape[-1] * 2,) if shape else (2,), dtype=dtype)
        view = wide[..., ::2] if shape else wide[::2].reshape(())
        view[...] = values
        return view
    if layout == "reversed" and shape:
        flipped = np.ascontiguousarray(values[::-1])
        return flipped[::-1]
    if layout == "misaligned" and dtype.itemsize > 1 and not dtype.hasobject:
        buf = bytearray(values.nbytes + 1)
        a = np.frombuffer(buf, dtype=dtype, count=values.size, offset=1).reshape(shape)
        a[...] = values
        return a
    if layout == "readonly":
        values.flags.writeable = False
        return values
    if layout == "subclass":
        return values.view(Tagged)
    if layout == "broadcast" and values.size:
        return np.broadcast_to(values[(0,) * len(shape)], shape)
    return values


@st.composite
def arrays(draw, shape=None):
    shape = draw(SHAPES) if shape is None else shape
    n = int(np.prod(shape, dtype=np.int64))
    if draw(st.integers(0, 4)) == 0:
        dtype = np.dtype(draw(st.sampled_from(OTHER_DTYPES)))
        values = np.zeros(shape, dtype=dtype)
        if dtype.kind not in "OV":
            raw = draw(st.binary(min_size=values.nbytes, max_size=values.nbytes))
            values = np.frombuffer(raw, dtype=dtype).reshape(shape).copy() if n else values
    else:
        dtype = np.dtype(draw(st.sampled_from(DTYPES)))
        elements = draw(st.lists(element_values(dtype), min_size=n, max_size=n))
        if dtype.name in FLOATS:
            values = np.array(elements, dtype=f"uint{FLOAT_BITS[dtype.name]}").view(dtype).reshape(shape)
        else:
            values = np.array(elements, dtype=dtype).reshape(shape)
        if draw(st.integers(0, 9)) == 0:
            values = values.astype(dtype.newbyteorder())
    return place(values, values.dtype, shape, draw(st.sampled_from(LAYOUTS)))


@st.composite
def overlapping_pair(draw):
    """arr and out carved from one buffer, possibly misaligned and overlapping."""
    n = draw(st.integers(0, 12))
    da, db = (np.dtype(draw(st.sampled_from(DTYPES))) for _ in range(2))
    buf = bytearray(n * 8 + 16)
    oa, ob = draw(st.integers(0, 9)), draw(st.integers(0, 9))
    arr = np.frombuffer(buf, dtype=da, count=n, offset=oa)
    raw = draw(st.binary(min_size=len(buf), max_size=len(buf)))
    buf[:] = raw
    return arr, np.frombuffer(buf, dtype=db, count=n, offset=ob)


JUNK = st.one_of(
    st.none(), st.integers(-2**200, 2**200), st.floats(allow_nan=True), st.text(max_size=8), st.binary(max_size=4),
    st.just([1, 2]), st.just((np.zeros(2),)), st.just(np.float64(1.0)), st.just(memoryview(b"ab")),
    st.builds(lambda: hooked({"repr", "index", "float", "iter", "len"})), st.just(np.int32),
)
TEXT_OBJECTS = st.one_of(
    st.text(max_size=14), st.sampled_from(["\ud800", "nearest-even\x00", "clamp ", "Wrap", "int8\x00", "i4"]),
    st.builds(type("Text", (str,), {}), st.sampled_from(MODES + ["clamp", "wrap"] + DTYPES)),
)


def texts(valid):
    return st.one_of(st.sampled_from(valid), st.sampled_from(valid), TEXT_OBJECTS, JUNK)


PLAIN_VALUES = st.one_of(
    st.integers(-2**70, 2**70), st.sampled_from([2**64 - 1, 2**63, -2**63, 2**1100, 255, 256, -1, 0, True]),
    st.floats(allow_nan=True, allow_infinity=True), st.sampled_from([math.nan, -0.0, 1e300, 65519.0, 0.1]),
    st.sampled_from(["a", "", None, b"x", 1j, Decimal("2.5"), Fraction(1, 3)]),
    st.builds(np.int64, st.integers(-2**63, 2**63 - 1)), st.builds(np.float32, st.floats(width=32)),
    st.builds(np.uint64, st.integers(0, 2**64 - 1)), st.builds(np.float16, st.floats(width=16)),
)
HOOKED_VALUES = st.one_of(
    st.builds(hooked, st.sampled_from([{"index"}, {"float"}, {"index", "repr"}, {"float", "repr", "str"},
                                       {"repr"}, set()])),
    st.builds(lambda i: hooked(set(), index=i), st.integers(-2**65, 2**65)),
    st.builds(lambda x: hooked({"repr"}, number=x), st.one_of(st.floats(), st.just("not a float"))),
)


@st.composite
def scalar_maps(draw):
    """(entries object, a re-readable copy for the prediction, or None when not predicted exactly)."""
    hostile = draw(st.integers(0, 2)) == 0
    values = st.one_of(PLAIN_VALUES, HOOKED_VALUES) if hostile else PLAIN_VALUES
    pair = st.one_of(st.tuples(values, values), st.lists(values, min_size=2, max_size=2),
                     st.builds(lambda a, b: {0: a, 1: b}, values, values))
    malformed = st.one_of(st.tuples(values), st.tuples(values, values, values), st.just(5), st.just("ab"),
                          st.just(None))
    entries = draw(st.lists(st.one_of(pair, pair, pair, malformed), max_size=4))
    shape = draw(st.sampled_from(["list", "list", "dict", "tuple", "generator", "iterator", "other"]))
    if shape == "dict":
        keys = draw(st.lists(values, max_size=4))
        mapping = {k: draw(values) for k in keys if is_hashable(k)}
        return mapping, None if hostile else mapping
    if shape == "generator":
        return raising_generator(entries), None
    if shape == "other":
        return draw(st.sampled_from([5, "ab", 1.5, b"", {1, 2}, [{1, 2}],
                                     hooked({"iter"}), [hooked({"len"})], [hooked({"getitem"})]])), None
    obj = {"tuple": tuple, "iterator": iter}.get(shape, list)(entries)
    return obj, None if hostile else entries


def is_hashable(x):
    try:
        hash(x)
        return True
    except TypeError:
        return False



def key_of(obj):
    return obj.dtype.name


def predict_binding(fn, args, kwargs):
    """The TypeError of argument binding, or None."""
    name, pos = f"{fn}()", POSITIONAL[fn]
    params = pos + KEYWORD_REQUIRED[fn] + KEYWORD_OPTIONAL
    if len(args) > len(pos):
        return f"{name} takes {len(pos)} positional arguments but {len(args)} were given"
    filled = set(pos[:len(args)])
    for k in kwargs:
        if k not in params:
            return f"{name} got an unexpected keyword argument '{k}'"
        if k in filled:
            return f"{name} got multiple values for argument '{k}'"
        filled.add(k)
    for kind, required in (("positional", pos), ("keyword", KEYWORD_REQUIRED[fn])):
        missing = [p for p in required if p not in filled]
        if missing:
            word = "argument" if len(missing) == 1 else "arguments"
            return f"{name} missing {len(missing)} required {kind} {word}: " + " and ".join(f"'{m}'" for m in missing)
    return None


def predict_map(entries, s, t):
    """(exception type, message) of a plain map, or (None, typed entries)."""
    if entries is None:
        return None, []
    if isinstance(entries, dict):
        items = list(entries.items())
    else:
        try:
            items = iter(entries)
        except TypeError:
            return TypeError, NOT_ITERABLE
    pairs = []
    for item in items:
        if not isinstance(entries, dict) and (not hasattr(item, "__len__") or len(item) != 2):
            return ValueError, NOT_A_PAIR
        for side, key, index in (("source", s, 0), ("target", t, 1)):
            try:
                extract(item[index], key)
            except MapValueError:
                return TypeError, value_message(side, item[index], key)
        pairs.append((item[0], item[1]))
    return None, pairs


def value_message(side, obj, key):
    return f"scalar_map {side} value {obj!r}: expected a value convertible to {side} dtype {key}"


def element_run(a, order):
    if a.dtype.name in FLOATS:
        a = a.view(f"uint{FLOAT_BITS[a.dtype.name]}")
    return a.ravel(order=order).tolist()


def values_of(a):
    return element_run(a, "C")


class Expect:
    """What a call must do: raise a given message (exact or by prefix), or reach a later stage."""

    def __init__(self, kind=None, exc=None, message=None, prefix=False):
        self.kind, self.exc, self.message, self.prefix = kind, exc, message, prefix


def predict(fn, args, kwargs):
    message = predict_binding(fn, args, kwargs)
    if message is not None:
        return Expect("error", TypeError, message)
    p = dict(zip(POSITIONAL[fn], args), **kwargs)
    for name in POSITIONAL[fn]:
        if not isinstance(p[name], np.ndarray):
            return Expect("error", TypeError, f"argument '{name}': '{type(p[name]).__qualname__}' object cannot "
                                              "be converted to '", prefix=True)
    texts = [("target_dtype", None)] if fn == "cast_array" else []
    texts += [("rounding_mode", MODES), ("out_of_range_mode", ["clamp", "wrap"])]
    for name, valid in texts:
        value = p.get(name)
        if name == "out_of_range_mode" and value is None:
            continue
        if not isinstance(value, str):
            return Expect("error", TypeError, f"argument '{name}': '{type(value).__qualname__}' object cannot be "
                                              "converted to '", prefix=True)
        if valid is not None and value not in valid:
            label = "rounding" if name == "rounding_mode" else "out_of_range"
            return Expect("error", ValueError, f"Unknown {label} mode: {value}")
    arr = p["arr"]
    for a in [arr] + ([p["out"]] if fn == "cast_array_into" else []):
        if key_of(a) not in DTYPES:
            return Expect("error", TypeError, f"Unsupported numpy dtype: {key_of(a)}")
    if fn == "cast_array_into" and arr.shape != p["out"].shape:
        shapes = [f"[{', '.join(str(d) for d in x.shape)}]" for x in (arr, p["out"])]
        return Expect("error", ValueError, f"Shape mismatch: input shape {shapes[0]} != output shape {shapes[1]}")
    if fn == "cast_array":
        target = p["target_dtype"]
        if target not in DTYPES:
            return Expect("error", TypeError, f"Unsupported target dtype: {target}")
    if not arr.dtype.isnative:
        return Expect("error", TypeError, f"'{type(arr).__qualname__}' object cannot be converted to '", prefix=True)
    if not (arr.flags.c_contiguous or arr.flags.f_contiguous):
        return Expect("error", ValueError, "Input array must be contiguous")
    return Expect("map")


def after_map(fn, p):
    """Checks that follow the map in cast_array_into."""
    if fn != "cast_array_into":
        return None
    out = p["out"]
    if not out.dtype.isnative:
        return Expect("error", TypeError, f"'{type(out).__qualname__}' object cannot be converted to '", prefix=True)
    if not out.flags.c_contiguous or not out.flags.writeable:
        return Expect("error", ValueError, OUTPUT_LAYOUT)
    return None



@st.composite
def calls(draw, chaos):
    """(function name, args, kwargs, plain map or None). Without chaos the arguments are
    passed the right way and the texts are mostly valid, so that calls reach the arrays."""
    def text(valid):
        return draw(texts(valid) if chaos or draw(st.integers(0, 9)) == 0 else st.sampled_from(valid))

    fn = draw(st.sampled_from(["cast_array", "cast_array_into"]))
    p = {}
    if fn == "cast_array_into" and draw(st.integers(0, 3)) == 0:
        p["arr"], p["out"] = draw(overlapping_pair())
    else:
        p["arr"] = draw(st.one_of(arrays(), arrays(), arrays(), JUNK) if chaos else arrays())
        if fn == "cast_array_into":
            same = isinstance(p["arr"], np.ndarray) and draw(st.integers(0, 3)) > 0
            shape = p["arr"].shape if same else None
            if same and draw(st.integers(0, 5)) == 0:  # as many elements, another shape
                shape = draw(st.sampled_from([shape[::-1], shape + (1,), (int(np.prod(shape)),)]))
            p["out"] = draw(arrays(shape=shape) if same else st.one_of(arrays(), JUNK))
        else:
            p["target_dtype"] = text(DTYPES)
    p["rounding_mode"] = text(MODES)
    p["out_of_range_mode"] = None if draw(st.booleans()) else text(["clamp", "wrap"])
    p["scalar_map_entries"], plain = draw(st.one_of(st.just((None, [])), scalar_maps()))
    pos = POSITIONAL[fn]
    if not chaos:
        return fn, [p.pop(name) for name in pos], p, plain
    # how the arguments are passed: positions, omissions, strays, order
    npos = draw(st.sampled_from([len(pos)] * 6 + list(range(0, len(pos) + 2))))
    args = [p.get(name, None) for name in pos[:npos]] + [draw(JUNK) for _ in range(npos - len(pos))]
    kwargs = {}
    for name in [n for n in pos[npos:]] + KEYWORD_REQUIRED[fn] + KEYWORD_OPTIONAL:
        if draw(st.integers(0, 29 if name in pos + KEYWORD_REQUIRED[fn] else 2)) != 0:
            kwargs[name] = p.get(name)
    if draw(st.integers(0, 14)) == 0:
        kwargs[draw(st.sampled_from(["mode", "arr", "target", "out", "dtype", "\u00e9t\u00e9"]))] = draw(JUNK)
    order = draw(st.permutations(list(kwargs)))
    kwargs = {k: kwargs[k] for k in order}
    return fn, args, kwargs, plain


def snapshot(obj):
    return obj.tobytes() if isinstance(obj, np.ndarray) and obj.dtype.kind != "O" else None


@SETTINGS
@given(calls(chaos=True))
def test_any_objects_passed_any_way(call):
    run_call(*call)


@SETTINGS
@given(calls(chaos=False))
def test_arrays_of_every_dtype_and_layout_with_hostile_maps(call):
    run_call(*call)


def run_call(fn, args, kwargs, plain):
    p = dict(zip(POSITIONAL[fn], args), **kwargs)
    arrays_in = [p.get("arr"), p.get("out")] if fn == "cast_array_into" else [p.get("arr")]
    before = [snapshot(a) for a in arrays_in]
    copies = [a.copy() if isinstance(a, np.ndarray) else None for a in arrays_in]
    expect = predict(fn, args, kwargs)
    try:
        result = FUNCTIONS[fn](*args, **kwargs)
        error = None
    except Exception as exc:  # noqa: BLE001 - every exception is judged below
        error = exc
    stage = check(fn, p, plain, expect, error, result if error is None else None, arrays_in, before, copies)
    event(f"{fn}: {stage}")


def check(fn, p, plain, expect, error, result, arrays_in, before, copies):
    if p.get("scalar_map_entries") is None:
        plain = []
    converted = isinstance(error, ValueError) and CAST_ERROR.fullmatch(str(error) or "")
    if error is not None and not converted:
        # nothing is written before the conversion starts
        for a, b in zip(arrays_in, before):
            if b is not None:
                assert a.tobytes() == b, f"{fn} wrote before failing with {error!r}"
    if error is not None and type(error) in (TypeError, ValueError):
        assert error.__context__ is None or isinstance(error.__context__, Hostile), repr(error.__context__)
    if expect.kind == "error":
        if expect.exc is UnicodeEncodeError:
            assert isinstance(error, UnicodeEncodeError)
            return "text without UTF-8 form"
        assert type(error) is expect.exc, f"expected {expect.exc.__name__} {expect.message!r}, got {error!r}"
        text = str(error)
        assert text.startswith(expect.message) if expect.prefix else text == expect.message
        return "refused before the map, exact" if not expect.prefix else "refused before the map, by prefix"
    # the map is read now; plain maps are predicted exactly, the others only by kind
    arr = p["arr"]
    s = key_of(arr)
    t = p["target_dtype"] if fn == "cast_array" else key_of(p["out"])
    if plain is not None:
        exc, typed = predict_map(plain, s, t)
        if exc is not None:
            assert type(error) is exc and str(error) == typed, f"expected {exc.__name__} {typed!r}, got {error!r}"
            return "map error, exact"
    elif error is not None and not (isinstance(error, Hostile) or later_stage(error)):
        text = str(error)
        assert type(error) in (TypeError, ValueError), repr(error)
        assert text in (NOT_ITERABLE, NOT_A_PAIR, "'set' object is not subscriptable") or MAP_MESSAGE.fullmatch(text), \
            repr(error)
        return "map error, by kind"
    if error is not None and isinstance(error, Hostile):
        assert plain is None
        return "caller's exception"
    later = after_map(fn, p)
    if later is not None:
        assert type(error) is later.exc, f"expected {later.message!r}, got {error!r}"
        assert str(error).startswith(later.message) if later.prefix else str(error) == later.message
        return "output error"
    if plain is None:
        assert error is None or converted, repr(error)
        return "converted, unpredicted map"
    # the conversion itself, against the model
    cast = Cast(s, t, p["rounding_mode"], p.get("out_of_range_mode"), typed)
    source = copies[0]
    want = [cast.element(x) for x in values_of(source)]
    if error is None:
        got = result if fn == "cast_array" else p["out"]
        assert got.dtype == np.dtype(t) and got.shape == source.shape
        assert values_of(got) == want
        if fn == "cast_array":
            assert type(result) is np.ndarray and not np.shares_memory(result, arr)
        else:
            assert result is None
        if fn == "cast_array" or not np.shares_memory(arr, p["out"]):
            assert arr.tobytes() == before[0]
        return "converted, values checked"
    assert converted, repr(error)
    if fn == "cast_array" or not np.shares_memory(arr, p["out"]):
        assert arr.tobytes() == before[0]
    allowed = set()
    for order in ("C", "K"):
        run = element_run(source, order)
        allowed |= {m for m, _ in cast.outcomes(run, run)}
    assert str(error) in allowed, (str(error), allowed)
    return "conversion error checked"


def later_stage(error):
    text = str(error)
    return type(error) in (TypeError, ValueError) and (
        text == OUTPUT_LAYOUT or "object cannot be converted to '" in text or CAST_ERROR.fullmatch(text))
