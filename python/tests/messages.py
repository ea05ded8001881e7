"""Independent helpers for the tests: the message format of numbers."""
import math
from decimal import Decimal


def fmt(x: float) -> str:
    """A float64 as the error messages write it: shortest digits, no exponent."""
    x = float(x)
    if math.isnan(x):
        return "NaN"
    if math.isinf(x):
        return "inf" if x > 0 else "-inf"
    text = format(Decimal(repr(x)), "f")
    if "." in text:
        text = text.rstrip("0").rstrip(".")
    return text


def out_of_range(value, lo, hi) -> str:
    return (f"Value {fmt(value)} out of range [{fmt(lo)}, {fmt(hi)}]. "
            "Set out_of_range='clamp' or out_of_range='wrap' to handle this.")
