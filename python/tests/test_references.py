"""Calls that fail inside the caller's own objects leave no references behind."""
import sys

import numpy as np
import pytest

from _quellon import cast_array, cast_array_into


class Raises:
    """An object whose every conversion and display hook raises."""

    def __index__(self):
        raise RuntimeError("index")

    def __float__(self):
        raise RuntimeError("float")

    def __repr__(self):
        raise RuntimeError("repr")

    def __str__(self):
        return "Raises"


class BadEntry:
    def __init__(self, length_raises=False, item_raises=False):
        self.length_raises, self.item_raises = length_raises, item_raises

    def __len__(self):
        if self.length_raises:
            raise RuntimeError("len")
        return 2

    def __getitem__(self, i):
        if self.item_raises:
            raise RuntimeError("getitem")
        return 1


def failing_generator():
    yield (1, 2)
    raise RuntimeError("iteration")


VALUE = Raises()
ENTRY_LEN = BadEntry(length_raises=True)
ENTRY_ITEM = BadEntry(item_raises=True)
A = np.arange(8, dtype=np.int32)
F = np.linspace(-3, 3, 8)

CALLS = [
    lambda: cast_array(A, target_dtype="uint8", rounding_mode="nearest-even", scalar_map_entries=[(VALUE, 1)]),
    lambda: cast_array(A, target_dtype="float32", rounding_mode="nearest-even", scalar_map_entries=[(1, VALUE)]),
    lambda: cast_array(A, target_dtype="uint64", rounding_mode="nearest-even", scalar_map_entries={1: VALUE}),
    lambda: cast_array(A, target_dtype="int8", rounding_mode="nearest-even", scalar_map_entries=[ENTRY_LEN]),
    lambda: cast_array(A, target_dtype="int8", rounding_mode="nearest-even", scalar_map_entries=[ENTRY_ITEM]),
    lambda: cast_array(A, target_dtype="int8", rounding_mode="nearest-even", scalar_map_entries=failing_generator()),
    lambda: cast_array(A, target_dtype="int8", rounding_mode="nearest-even", scalar_map_entries=VALUE),
    lambda: cast_array(F, target_dtype="uint8", rounding_mode="nearest-even"),
    lambda: cast_array(F, target_dtype="uint8", rounding_mode="bogus"),
    lambda: cast_array(A, target_dtype=VALUE, rounding_mode="nearest-even"),
    lambda: cast_array_into(A, np.zeros(8, np.uint8), rounding_mode="nearest-even", out_of_range_mode=VALUE),
    lambda: cast_array_into(F, np.zeros(8, np.int8), rounding_mode="nearest-even", scalar_map_entries={0.0: 1}),
    lambda: cast_array(A, bogus=VALUE),
]


@pytest.mark.parametrize("call", CALLS)
def test_no_references_leak(call):
    watched = [VALUE, ENTRY_LEN, ENTRY_ITEM, A, F, RuntimeError, np.ndarray]

    def run():
        try:
            call()
        except (TypeError, ValueError, RuntimeError):
            pass

    for _ in range(50):  # warm caches first
        run()
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(2000):
        run()
    assert [sys.getrefcount(o) for o in watched] == before
