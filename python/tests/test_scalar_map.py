"""scalar_map_entries: the accepted forms, value conversion, messages and precedence."""
import math
import struct

import numpy as np
import pytest

from _quellon import cast_array, cast_array_into


def cast(values, s, t, entries, mode=None, rounding="nearest-even"):
    return cast_array(np.array(values, dtype=s), target_dtype=t, rounding_mode=rounding,
                      out_of_range_mode=mode, scalar_map_entries=entries).tolist()


def source_error(value_repr, key):
    return f"scalar_map source value {value_repr}: expected a value convertible to source dtype {key}"


def target_error(value_repr, key):
    return f"scalar_map target value {value_repr}: expected a value convertible to target dtype {key}"


class DictWithOddIteration(dict):
    def __iter__(self):
        return iter(reversed(list(super().__iter__())))

    def items(self):
        raise AssertionError("items() must not be used")


@pytest.mark.parametrize("entries, want", [
    ({}, [1, 3, 5]),
    ([], [1, 3, 5]),
    ({1: 2, 3: 4}, [2, 4, 5]),
    ([(1, 2), (1, 3)], [2, 3, 5]),
    ([[1, 2]], [2, 3, 5]),
    ((e for e in [(5, 0)]), [1, 3, 0]),
    ([{0: 5, 1: 6}, (3, -3)], [1, -3, 6]),  # a dict with keys 0 and 1 serves as an entry
    ([(1, True)], [1, 3, 5]),
    (DictWithOddIteration({3: 30, 1: 10, 5: 50}), [10, 30, 50]),
    (DictWithOddIteration([(1, 7), (1, 8)]), [8, 3, 5]),  # a dict holds one entry per key
])
def test_accepted_forms(entries, want):
    assert cast([1, 3, 5], "int8", "int8", entries) == want


def test_first_matching_entry_wins_in_order():
    assert cast([3, 4], "int8", "int8", [(3, 10), (3, 20), (4, 1)]) == [10, 1]
    assert cast([3, 4], "int8", "int8", {3: 10, 4: 1}) == [10, 1]


@pytest.mark.parametrize("entries, exc, message", [
    (5, TypeError, "scalar_map_entries must be a dict or an iterable of (source, target) pairs"),
    (None.__class__, TypeError, "scalar_map_entries must be a dict or an iterable of (source, target) pairs"),
    ("ab", ValueError, "Each scalar_map entry must be a (source, target) pair"),
    ([(1, 2, 3)], ValueError, "Each scalar_map entry must be a (source, target) pair"),
    ([5], ValueError, "Each scalar_map entry must be a (source, target) pair"),
    ([(1, 2), ()], ValueError, "Each scalar_map entry must be a (source, target) pair"),
    ([(300, 1)], TypeError, source_error("300", "uint8")),
    ([(-1, 1)], TypeError, source_error("-1", "uint8")),
    ([(1.0, 2)], TypeError, source_error("1.0", "uint8")),
    ([("a", 1)], TypeError, source_error("'a'", "uint8")),
    ([(None, 1)], TypeError, source_error("None", "uint8")),
    ([(1, 1.5)], TypeError, target_error("1.5", "int16")),
    ([(1, 70000)], TypeError, target_error("70000", "int16")),
    ({1.5: "x"}, TypeError, source_error("1.5", "uint8")),  # the key is reported first
    ([("ab", 1)], TypeError, source_error("'ab'", "uint8")),
])
def test_malformed_entries(entries, exc, message):
    with pytest.raises(Exception) as info:
        cast([1], "uint8", "int16", entries)
    assert type(info.value) is exc
    assert str(info.value) == message


def test_malformed_map_is_reported_for_an_empty_array():
    with pytest.raises(TypeError, match="must be a dict or an iterable"):
        cast([], "int8", "int8", 5)


def test_exceptions_from_the_callers_objects_pass_through():
    class Boom(Exception):
        pass

    def entries():
        yield (1, 2)
        raise Boom("from the iterator")

    with pytest.raises(Boom, match="from the iterator"):
        cast([1], "int8", "int8", entries())
    with pytest.raises(TypeError, match="not subscriptable"):
        cast([1], "int8", "int8", [{1, 2}])

    class BadItem:
        def __len__(self):
            return 2

        def __getitem__(self, i):
            raise Boom(f"item {i}")

    with pytest.raises(Boom, match="item 0"):
        cast([1], "int8", "int8", [BadItem()])


def test_second_element_is_not_fetched_when_the_first_fails():
    fetched = []

    class Entry:
        def __len__(self):
            return 2

        def __getitem__(self, i):
            fetched.append(i)
            return "bad" if i == 0 else 1

    with pytest.raises(TypeError, match="source value 'bad'"):
        cast([1], "int8", "int8", [Entry()])
    assert fetched == [0]


def test_conversion_failures_inside_the_callers_methods_become_the_map_error():
    class Index:
        def __index__(self):
            raise RuntimeError("no index")

        def __repr__(self):
            return "Index()"

    with pytest.raises(TypeError) as info:
        cast([1], "int8", "int8", [(Index(), 1)])
    assert str(info.value) == source_error("Index()", "int8")

    class NoRepr:
        def __repr__(self):
            raise RuntimeError("no repr")

        def __str__(self):
            return "NoRepr as str"

    with pytest.raises(TypeError) as info:
        cast([1], "uint64", "int8", [(NoRepr(), 1)])
    assert str(info.value) == source_error("NoRepr as str", "uint64")


def test_integer_extraction_through_index():
    class Seven:
        def __index__(self):
            return 7

    assert cast([1, 7], "uint64", "int64", [(Seven(), Seven())]) == [1, 7]
    assert cast([2**64 - 1], "uint64", "uint8", [(2**64 - 1, 3)]) == [3]
    with pytest.raises(TypeError, match=r"^scalar_map source value -1: .* source dtype uint64$"):
        cast([1], "uint64", "uint8", [(-1, 3)])
    with pytest.raises(TypeError, match=r"^scalar_map source value 18446744073709551616: "):
        cast([1], "uint64", "uint8", [(2**64, 3)])
    assert cast([-(2**63)], "int64", "int8", [(-(2**63), -1)]) == [-1]


def test_dict_changing_while_read_fails():
    d = {}

    class Mutator:
        def __index__(self):
            d[99] = 1
            return 1

    d[Mutator()] = 2
    with pytest.raises(RuntimeError):
        cast([1], "int8", "int8", d)


def test_mapped_values_skip_range_tests_and_modes():
    assert cast([-1, 5], "int16", "uint8", [(-1, 200)]) == [200, 5]
    with pytest.raises(ValueError, match="^Value -2 out of range"):
        cast([-1, -2], "int16", "uint8", [(-1, 200)])
    assert cast([0, 4, 0], "int16", "int16", [(0, -1)]) == [-1, 4, -1]
    assert cast([300, 301], "int32", "uint8", [(300, 7)], mode="wrap") == [7, 45]


def test_map_entries_apply_in_cast_array_into_with_partial_writes():
    out = np.full(4, 9, np.uint8)
    with pytest.raises(ValueError, match="^Value 256 out of range"):
        cast_array_into(np.array([-1, 1, 256, 2], np.int16), out, rounding_mode="nearest-even",
                        scalar_map_entries={-1: 0})
    assert out.tolist() == [0, 1, 9, 9]


FLOAT_CASES = [
    # (source dtype, target dtype, entries, input, expected)
    ("float64", "int8", [(math.nan, 7), (1.5, 9)], [math.nan, -math.nan, 1.5, 2.5], [7, 7, 9, 2]),
    ("float64", "int8", [(0.0, 5)], [0.0, -0.0, 1.0], [5, 5, 1]),
    ("float64", "int8", [(-0.0, 5)], [0.0, -0.0], [5, 5]),
    ("float32", "uint8", [(math.nan, 0)], [math.nan, 1.0], [0, 1]),
    ("float32", "uint8", [(-1.0, 200)], [-1.0, 2.0], [200, 2]),
    ("float32", "uint8", [(3.0, 10), (3.0, 20)], [3.0], [10]),
    ("float64", "float32", [(math.nan, 0.0)], [math.nan, 2.0], [0.0, 2.0]),
    ("float64", "float32", [(0.0, 5.0)], [0.0, -0.0], [5.0, 5.0]),
    ("float64", "float32", [(1.0, 1e300)], [1.0], [math.inf]),  # float32 target rounds to inf
    ("int32", "float32", [(5, 0.5)], [5, 6], [0.5, 6.0]),
    ("float16", "int8", [(0.1, 3)], [0.1], [3]),
    ("float64", "int8", [(math.inf, 1), (-math.inf, -1)], [math.inf, -math.inf], [1, -1]),
    ("float32", "uint8", [(math.nan, 4)], [1.0, -1.5], None),  # NaN entry never matches numbers
]


@pytest.mark.parametrize("s, t, entries, values, want", FLOAT_CASES)
def test_float_lookup_rules(s, t, entries, values, want):
    if want is None:
        with pytest.raises(ValueError, match="^Value -2 out of range"):
            cast(values, s, t, entries)
    else:
        assert cast(values, s, t, entries) == want


def test_float_values_are_rounded_on_the_way_in():
    # float16 entries are rounded twice: to float32, then to binary16
    f16 = cast([1], "int8", "float16", [(1, 0.1)])[0]
    assert f16 == float(np.float16(np.float32(0.1)))
    f32 = cast([1], "int8", "float32", [(1, 0.1)])[0]
    assert f32 == struct.unpack("f", struct.pack("f", 0.1))[0]
    with pytest.raises(TypeError, match=r"^scalar_map target value 1000...0: .* target dtype float64$"
                       .replace("1000...0", "1" + "0" * 400)):
        cast([1], "int8", "float64", [(1, 10**400)])
    with pytest.raises(TypeError, match="target value 'x'"):
        cast([1], "int8", "float32", [(1, "x")])
