"""The benchmark cases: a quellon cast and its NumPy counterpart."""
from dataclasses import dataclass
from typing import Callable, Optional

import numpy as np


@dataclass(frozen=True)
class Case:
    name: str
    source: str
    target: str
    rounding: str
    out_of_range: Optional[str]
    make_input: Callable[[np.random.Generator, int], np.ndarray]
    # NumPy's way to the same result: allocating, and into a given output
    numpy_alloc: Optional[Callable[[np.ndarray], np.ndarray]]
    numpy_into: Optional[Callable[[np.ndarray, np.ndarray], None]]
    numpy_label: str
    # a row without a NumPy counterpart is compared with this row instead
    compare_with: Optional[str] = None


def uniform(dtype, lo, hi):
    return lambda rng, n: rng.uniform(lo, hi, size=n).astype(dtype)


def integral(dtype, lo, hi):
    """Integral values, so that truncation and every rounding mode agree."""
    return lambda rng, n: np.rint(rng.uniform(lo, hi, size=n)).astype(dtype)


def via_float32(lo, hi):
    """float64 values float32 holds, so one rounding and two roundings agree."""
    return lambda rng, n: rng.uniform(lo, hi, size=n).astype(np.float32).astype(np.float64)


def integers(dtype, lo, hi):
    return lambda rng, n: rng.integers(lo, hi, size=n, endpoint=True).astype(dtype)


def astype(target):
    return (lambda a: a.astype(target),
            lambda a, out: np.copyto(out, a, casting="unsafe"))


def clip_chain(lo, hi, target, round_fn=None):
    def alloc(a):
        r = round_fn(a) if round_fn else a
        return np.clip(r, lo, hi).astype(target)

    def into(a, out):
        r = round_fn(a) if round_fn else a
        np.copyto(out, np.clip(r, lo, hi), casting="unsafe")

    return alloc, into


CASES = [
    Case("f64->f32 nearest-even", "float64", "float32", "nearest-even", None,
         uniform(np.float64, -1e30, 1e30), *astype(np.float32), "astype / copyto"),
    Case("f32->u8 nearest-even clamp", "float32", "uint8", "nearest-even", "clamp",
         uniform(np.float32, -50, 300), *clip_chain(0, 255, np.uint8, np.rint), "clip(rint(a)).astype"),
    Case("f32->u8 (unchecked floor)", "float32", "uint8", "nearest-even", "clamp",
         uniform(np.float32, 0, 255), *astype(np.uint8), "astype (no rounding, no clamp)"),
    Case("f64->i32 nearest-even", "float64", "int32", "nearest-even", None,
         integral(np.float64, -2e9, 2e9), *astype(np.int32), "astype / copyto"),
    Case("i32->u8 clamp", "int32", "uint8", "nearest-even", "clamp",
         integers(np.int32, -100, 400), *clip_chain(0, 255, np.uint8), "clip(a).astype"),
    Case("i64->i32 wrap", "int64", "int32", "nearest-even", "wrap",
         integers(np.int64, -(2**40), 2**40), *astype(np.int32), "astype / copyto"),
    Case("i16->f32 nearest-even", "int16", "float32", "nearest-even", None,
         integers(np.int16, -32768, 32767), *astype(np.float32), "astype / copyto"),
    Case("i64->f64 nearest-even", "int64", "float64", "nearest-even", None,
         integers(np.int64, -(2**62), 2**62), *astype(np.float64), "astype / copyto"),
    Case("f32->f16 nearest-even", "float32", "float16", "nearest-even", None,
         uniform(np.float32, -60000, 60000), *astype(np.float16), "astype / copyto"),
    Case("f64->f16 nearest-even", "float64", "float16", "nearest-even", None,
         via_float32(-60000, 60000), *astype(np.float16), "astype / copyto"),
    Case("f16->f32", "float16", "float32", "nearest-even", None,
         uniform(np.float16, -60000, 60000), *astype(np.float32), "astype / copyto"),
    Case("f32->i16 towards-zero clamp", "float32", "int16", "towards-zero", "clamp",
         uniform(np.float32, -40000, 40000), *clip_chain(-32768, 32767, np.int16, np.trunc),
         "clip(trunc(a)).astype"),
    Case("f64->f32 towards-zero", "float64", "float32", "towards-zero", None,
         uniform(np.float64, -1e30, 1e30), None, None, "(vs f64->f32 nearest-even)",
         compare_with="f64->f32 nearest-even"),
]
