"""Every way through a call, repeated many times, leaves no references and no memory behind.

Each binding error, each conversion error, each scalar-map error (including
objects whose own hooks raise) and the success paths run thousands of times;
the reference counts of every object they touch, the interpreter's count of
allocated blocks and the process's resident memory must not grow.
"""
import gc
import os
import sys

import numpy as np
import pytest

from _quellon import cast_array, cast_array_into


class Hostile(Exception):
    pass


def fail(*_):
    raise Hostile("hook")


def text(s):
    """A str built at run time, so that its reference count is a real one."""
    return "".join(list(s))


class IndexRaises:
    __index__ = fail
    __repr__ = fail  # the message then falls back to str()

    def __str__(self):
        return "IndexRaises"


class FloatRaises:
    __float__ = fail


class ReprAndStrRaise:
    __index__ = fail
    __float__ = fail
    __repr__ = fail
    __str__ = fail


class LenRaises:
    __len__ = fail


class GetitemRaises:
    def __len__(self):
        return 2

    __getitem__ = fail


class IterRaises:
    __iter__ = fail


class IndexTooBig:
    def __index__(self):
        return 2**70


class Growing(dict):
    pass


class Shrinks:
    """A key whose conversion removes another key of the dict being read."""

    def __init__(self, victim):
        self.victim = victim

    def __index__(self):
        GROWING.pop(self.victim, None)
        return 1

    def __hash__(self):
        return 12345


class BrokenDtype(np.ndarray):
    @property
    def dtype(self):
        raise Hostile("dtype")


def failing_pairs(pairs):
    yield from pairs
    raise Hostile("iteration")


NE, TZ = text("nearest-even"), text("towards-zero")
CLAMP, WRAP = text("clamp"), text("wrap")
BOGUS, SURROGATE = text("Nearest-Even"), text("\ud800")
I8, U8, F16, F32, F64, I32 = (text(k) for k in ("int8", "uint8", "float16", "float32", "float64", "int32"))
FLOAT_TEXT = text("float")

I32_ARR = np.arange(-8, 8, dtype=np.int32)
F64_ARR = np.linspace(-3, 3, 16)
F32_ARR = np.linspace(-3, 300, 16).astype(np.float32)
WITH_NAN = np.array([1.0, 2.0, np.nan, 4.0, 5.0])
BIG_F64 = np.array([1.0, 3e9, 2.0, 3.0, 4.0])
OVERFLOW = np.array([1.0, 1e39, 2.0])
F16_ARR = np.array([1.0, 70000.0], dtype=np.float32)
BOOL_ARR = np.zeros(4, dtype=bool)
SWAPPED = np.arange(4, dtype=">i4")
STRIDED = np.arange(16, dtype=np.int32)[::2]
FORTRAN = np.asfortranarray(np.arange(12, dtype=np.int16).reshape(3, 4) - 6)
ZERO_D = np.array(5, dtype=np.int64)
EMPTY = np.zeros((0, 3), dtype=np.float32)
SUBCLASS_BROKEN = np.arange(3, dtype=np.int32).view(BrokenDtype)
OUT_U8 = np.zeros(16, dtype=np.uint8)
OUT_I32 = np.zeros(16, dtype=np.int32)
OUT_F16 = np.zeros(2, dtype=np.float16)
OUT_5 = np.zeros(5, dtype=np.int32)
OUT_3F32 = np.zeros(3, dtype=np.float32)
OUT_T = np.zeros((16, 2), dtype=np.uint8).T
OUT_READONLY = np.zeros(16, dtype=np.uint8)
OUT_READONLY.flags.writeable = False
OUT_SWAPPED = np.zeros(16, dtype=">u1").view(">u2")[:8]
OUT_BOOL = np.zeros(16, dtype=bool)
OUT_SHAPE = np.zeros((4, 4), dtype=np.uint8)
MISALIGNED_BUF = bytearray(16 * 4 + 1)
MISALIGNED = np.frombuffer(MISALIGNED_BUF, dtype=np.int32, count=16, offset=1)
MISALIGNED[...] = np.arange(-8, 8) * 40
MISALIGNED_OUT_BUF = bytearray(16 * 2 + 1)
MISALIGNED_OUT = np.frombuffer(MISALIGNED_OUT_BUF, dtype=np.int16, count=16, offset=1)
SHARED = np.arange(32, dtype=np.int16)
SHARED_FAIL = np.array([1, 2, 300, 4, 5, 6, 7, 8, 9, 10], dtype=np.int16)

ENTRY = (1, 2)
PLAIN_LIST = [ENTRY, (3, 4), [5, 6]]
PLAIN_DICT = {1.5: 7, float("nan"): 0, -0.0: 9}
VALUE_INDEX = IndexRaises()
VALUE_FLOAT = FloatRaises()
VALUE_BOTH = ReprAndStrRaise()
ENTRY_LEN = LenRaises()
ENTRY_ITEM = GetitemRaises()
ITER_RAISES = IterRaises()
TOO_BIG = IndexTooBig()
HUGE = 2**100
SET_ENTRY = {1, 2}
GROWING = Growing()
LONG_MAP = [(i, i % 100) for i in range(400)]

WATCHED = {k: v for k, v in dict(globals()).items() if k.isupper() and not k.startswith("_")}
WATCHED.update({f"{type(o).__name__} {i}": o for i, o in enumerate(
    [np.ndarray, np.dtype(np.int32), np.dtype(np.float64), np.dtype(np.uint8), np.dtype(np.float16),
     Hostile, TypeError, ValueError, RuntimeError, cast_array, cast_array_into]
    + LONG_MAP + PLAIN_LIST + list(PLAIN_DICT) + list(PLAIN_DICT.values()))})


def reset_growing():
    GROWING.clear()
    GROWING[Shrinks(7)] = 1
    GROWING[7] = 2


# (name, call, what it raises or None)
PATHS = [
    # argument binding
    ("too many positional", lambda: cast_array(I32_ARR, I8, rounding_mode=NE), TypeError),
    ("too many positional into", lambda: cast_array_into(I32_ARR, OUT_U8, NE, rounding_mode=NE), TypeError),
    ("unexpected keyword", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=NE, mode=CLAMP), TypeError),
    ("multiple values", lambda: cast_array(I32_ARR, arr=I32_ARR, target_dtype=I8, rounding_mode=NE), TypeError),
    ("missing positional", lambda: cast_array_into(I32_ARR, rounding_mode=NE), TypeError),
    ("missing keywords", lambda: cast_array(I32_ARR), TypeError),
    ("arr not an array", lambda: cast_array(PLAIN_LIST, target_dtype=I8, rounding_mode=NE), TypeError),
    ("out not an array", lambda: cast_array_into(I32_ARR, PLAIN_LIST, rounding_mode=NE), TypeError),
    ("target not a str", lambda: cast_array(I32_ARR, target_dtype=VALUE_BOTH, rounding_mode=NE), TypeError),
    ("mode not a str", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=HUGE), TypeError),
    ("unknown mode", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=BOGUS), ValueError),
    ("range mode not a str", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=NE,
                                                out_of_range_mode=ENTRY), TypeError),
    ("unknown range mode", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=NE,
                                              out_of_range_mode=BOGUS), ValueError),
    ("text without UTF-8", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=SURROGATE), ValueError),
    # arrays
    ("dtype attribute raises", lambda: cast_array(SUBCLASS_BROKEN, target_dtype=I8, rounding_mode=NE), Hostile),
    ("unsupported input", lambda: cast_array(BOOL_ARR, target_dtype=I8, rounding_mode=NE), TypeError),
    ("unsupported output", lambda: cast_array_into(I32_ARR, OUT_BOOL, rounding_mode=NE), TypeError),
    ("shape mismatch", lambda: cast_array_into(I32_ARR, OUT_SHAPE, rounding_mode=NE), ValueError),
    ("unsupported target", lambda: cast_array(I32_ARR, target_dtype=FLOAT_TEXT, rounding_mode=NE), TypeError),
    ("byte-swapped input", lambda: cast_array(SWAPPED, target_dtype=I8, rounding_mode=NE), TypeError),
    ("strided input into", lambda: cast_array_into(STRIDED, OUT_SWAPPED, rounding_mode=NE), ValueError),
    ("byte-swapped output", lambda: cast_array_into(
        I32_ARR[:8], OUT_SWAPPED, rounding_mode=NE, scalar_map_entries=PLAIN_LIST), TypeError),
    ("strided input", lambda: cast_array(STRIDED, target_dtype=I8, rounding_mode=NE,
                                         scalar_map_entries=PLAIN_LIST), ValueError),
    ("transposed output", lambda: cast_array_into(I32_ARR.reshape(2, 8), OUT_T[:, :8], rounding_mode=NE),
     ValueError),
    ("read-only output", lambda: cast_array_into(I32_ARR, OUT_READONLY, rounding_mode=NE,
                                                 out_of_range_mode=CLAMP), ValueError),
    # conversion
    ("int out of range", lambda: cast_array_into(I32_ARR * 40, OUT_U8, rounding_mode=NE), ValueError),
    ("int out of range, new array", lambda: cast_array(MISALIGNED, target_dtype=I8, rounding_mode=NE), ValueError),
    ("misaligned output fails", lambda: cast_array_into(I32_ARR * 9000, MISALIGNED_OUT, rounding_mode=NE),
     ValueError),
    ("float NaN", lambda: cast_array(WITH_NAN, target_dtype=I8, rounding_mode=NE), ValueError),
    ("float NaN, clamp kernel", lambda: cast_array(WITH_NAN, target_dtype=U8, rounding_mode=NE,
                                                   out_of_range_mode=CLAMP), ValueError),
    ("float out of range", lambda: cast_array(F32_ARR, target_dtype=U8, rounding_mode=TZ), ValueError),
    ("check kernel", lambda: cast_array_into(BIG_F64, OUT_5, rounding_mode=NE), ValueError),
    ("wrap of infinity", lambda: cast_array(np.array([np.inf]), target_dtype=I8, rounding_mode=NE,
                                            out_of_range_mode=WRAP), ValueError),
    ("float overflow", lambda: cast_array_into(F16_ARR, OUT_F16, rounding_mode=NE), ValueError),
    ("float64 to float32 kernel overflow", lambda: cast_array_into(OVERFLOW, OUT_3F32, rounding_mode=NE),
     ValueError),
    ("overlap fails", lambda: cast_array_into(SHARED_FAIL[:8], SHARED_FAIL[2:].view(np.int8)[:8], rounding_mode=NE),
     ValueError),
    # scalar maps
    ("map not iterable", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=NE,
                                            scalar_map_entries=HUGE), TypeError),
    ("map iteration raises", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=NE,
                                                scalar_map_entries=ITER_RAISES), TypeError),
    ("map generator raises", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=NE,
                                                scalar_map_entries=failing_pairs(PLAIN_LIST)), Hostile),
    ("entry of wrong length", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=NE,
                                                 scalar_map_entries=[ENTRY, (1, 2, 3)]), ValueError),
    ("entry without length", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=NE,
                                                scalar_map_entries=[ENTRY, HUGE]), ValueError),
    ("entry len raises", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=NE,
                                            scalar_map_entries=LONG_MAP + [ENTRY_LEN]), ValueError),
    ("entry getitem raises", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=NE,
                                                scalar_map_entries=[ENTRY_ITEM]), Hostile),
    ("set entry", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=NE,
                                     scalar_map_entries=[SET_ENTRY]), TypeError),
    ("source index raises", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=NE,
                                               scalar_map_entries=LONG_MAP + [(VALUE_INDEX, 1)]), TypeError),
    ("target index raises", lambda: cast_array(F64_ARR, target_dtype=U8, rounding_mode=NE,
                                               scalar_map_entries={1.0: VALUE_INDEX}), TypeError),
    ("uint64 index raises", lambda: cast_array(I32_ARR, target_dtype="uint64", rounding_mode=NE,
                                               scalar_map_entries=[(1, VALUE_INDEX)]), TypeError),
    ("index too big", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=NE,
                                         scalar_map_entries=[(TOO_BIG, 1)]), TypeError),
    ("float raises", lambda: cast_array(F64_ARR, target_dtype=U8, rounding_mode=NE,
                                        scalar_map_entries=[(VALUE_FLOAT, 1)]), TypeError),
    ("float16 target raises", lambda: cast_array(I32_ARR, target_dtype=F16, rounding_mode=NE,
                                                 scalar_map_entries=[(1, VALUE_FLOAT)]), TypeError),
    ("repr and str raise", lambda: cast_array(F64_ARR, target_dtype=F32, rounding_mode=NE,
                                              scalar_map_entries=[(VALUE_BOTH, 1.0)]), Hostile),
    ("huge int value", lambda: cast_array(F64_ARR, target_dtype=F64, rounding_mode=NE,
                                          scalar_map_entries=[(1.0, 2**1100)]), TypeError),
    ("dict value fails", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=NE,
                                            scalar_map_entries={1: 2, 3: HUGE}), TypeError),
    ("dict key fails", lambda: cast_array(F64_ARR, target_dtype=I8, rounding_mode=NE,
                                          scalar_map_entries={text("k"): 2}), TypeError),
    ("dict changes while read", lambda: (reset_growing(), cast_array(
        I32_ARR, target_dtype=I8, rounding_mode=NE, scalar_map_entries=GROWING)), RuntimeError),
    # success
    ("int to int", lambda: cast_array(I32_ARR, target_dtype=I8, rounding_mode=NE), None),
    ("int to int, wrap, map", lambda: cast_array(I32_ARR * 40, target_dtype=U8, rounding_mode=NE,
                                                 out_of_range_mode=WRAP, scalar_map_entries=PLAIN_LIST), None),
    ("float to int into, kernel", lambda: cast_array_into(F32_ARR, OUT_U8, rounding_mode=NE,
                                                          out_of_range_mode=CLAMP), None),
    ("float to int, dict map", lambda: cast_array(F64_ARR, target_dtype=I32, rounding_mode=TZ,
                                                  scalar_map_entries=PLAIN_DICT), None),
    ("int to float", lambda: cast_array(I32_ARR, target_dtype=F16, rounding_mode=TZ,
                                        scalar_map_entries=LONG_MAP), None),
    ("float to float", lambda: cast_array(F64_ARR, target_dtype=F16, rounding_mode=TZ, out_of_range_mode=CLAMP,
                                          scalar_map_entries=PLAIN_DICT), None),
    ("float64 to float32 kernel", lambda: cast_array(F64_ARR, target_dtype=F32, rounding_mode=NE), None),
    ("fortran input", lambda: cast_array(FORTRAN, target_dtype=F32, rounding_mode=NE), None),
    ("fortran input into", lambda: cast_array_into(FORTRAN, np.zeros((3, 4), np.int8), rounding_mode=NE), None),
    ("misaligned both", lambda: cast_array_into(MISALIGNED, MISALIGNED_OUT, rounding_mode=NE), None),
    ("overlap", lambda: cast_array_into(SHARED[:8], SHARED[4:].view(np.int32)[:8], rounding_mode=NE), None),
    ("zero-dimensional", lambda: cast_array(ZERO_D, target_dtype=F64, rounding_mode=NE), None),
    ("empty", lambda: cast_array(EMPTY, target_dtype=I8, rounding_mode=NE,
                                 scalar_map_entries=iter(PLAIN_LIST)), None),
]


def run(call, raises):
    if raises is None:
        call()
        return
    try:
        call()
    except raises:
        return
    pytest.fail("the call did not raise")


@pytest.mark.parametrize("name, call, raises", PATHS, ids=[p[0] for p in PATHS])
def test_references_and_interpreter_blocks_do_not_grow(name, call, raises):
    for _ in range(100):  # warm caches, first-use answers and free lists
        run(call, raises)
    gc.collect()
    counts = {k: sys.getrefcount(o) for k, o in WATCHED.items()}
    blocks = sys.getallocatedblocks()
    repeats = 3000
    for _ in range(repeats):
        run(call, raises)
    gc.collect()
    grown = {k: (counts[k], sys.getrefcount(o)) for k, o in WATCHED.items() if sys.getrefcount(o) != counts[k]}
    assert not grown
    assert sys.getallocatedblocks() - blocks < repeats // 2  # a block kept per call would be 3000


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


N = 1 << 20
LARGE_F64 = np.linspace(-1e6, 1e6, N)
LARGE_OVERFLOW = LARGE_F64.copy()
LARGE_OVERFLOW[-1] = 1e39
LARGE_NAN = LARGE_F64.copy()
LARGE_NAN[-1] = np.nan
LARGE_OUT = np.zeros(N, dtype=np.float32)
LARGE_MISALIGNED = np.frombuffer(bytearray(N * 4 + 1), dtype=np.int32, count=N, offset=1)
LARGE_SHARED = np.zeros(2 * N, dtype=np.int32)
LARGE_MAP = [(i, i) for i in range(20000)]


# Each repetition would leave at least several hundred kilobytes behind if
# anything it allocates were kept: result arrays, staged copies, typed maps.
LARGE_PATHS = [
    ("new array", lambda: cast_array(LARGE_F64, target_dtype=F32, rounding_mode=TZ), None),
    ("new array dropped on failure", lambda: cast_array(LARGE_OVERFLOW, target_dtype=F32, rounding_mode=NE),
     ValueError),
    ("new array dropped on NaN", lambda: cast_array(LARGE_NAN, target_dtype=I32, rounding_mode=NE,
                                                    out_of_range_mode=CLAMP), ValueError),
    ("staged input copy", lambda: cast_array_into(LARGE_MISALIGNED, LARGE_OUT, rounding_mode=NE), None),
    ("staged overlap copy", lambda: cast_array_into(LARGE_SHARED[:N], LARGE_SHARED[1:N + 1], rounding_mode=NE),
     None),
    ("map kept", lambda: cast_array(ZERO_D, target_dtype=I32, rounding_mode=NE, scalar_map_entries=LARGE_MAP),
     None),
    ("partial map dropped", lambda: cast_array(ZERO_D, target_dtype=I32, rounding_mode=NE,
                                               scalar_map_entries=LARGE_MAP + [(VALUE_INDEX, 1)]), TypeError),
    ("partial dict map dropped", lambda: cast_array(ZERO_D, target_dtype=I32, rounding_mode=NE,
                                                    scalar_map_entries=dict(LARGE_MAP + [(1.5, 1)])), TypeError),
]


@pytest.mark.parametrize("name, call, raises", LARGE_PATHS, ids=[p[0] for p in LARGE_PATHS])
def test_process_memory_does_not_grow(name, call, raises):
    for _ in range(5):
        run(call, raises)
    gc.collect()
    before = resident_bytes()
    for _ in range(60):
        run(call, raises)
    gc.collect()
    # one leaked map is 160 KB and one leaked array 4 MB: 60 of either is far beyond this
    assert resident_bytes() - before < 4 << 20
