import inspect

import numpy as np
import pytest

import _quellon
from _quellon import cast_array, cast_array_into

A = np.array([1, 2, 3], dtype=np.int16)


def test_module_attributes():
    assert _quellon.__all__ == ["cast_array", "cast_array_into"]
    assert _quellon.__doc__ == ""
    for fn in (cast_array, cast_array_into):
        assert fn.__module__ == "_quellon"
        assert fn.__name__ in _quellon.__all__


def test_signatures_and_docs():
    assert cast_array.__text_signature__ == (
        "(arr, *, target_dtype, rounding_mode, out_of_range_mode=None, scalar_map_entries=None)"
    )
    assert cast_array_into.__text_signature__ == (
        "(arr, out, *, rounding_mode, out_of_range_mode=None, scalar_map_entries=None)"
    )
    params = inspect.signature(cast_array_into).parameters
    assert [p.kind for p in params.values()][:3] == [
        inspect.Parameter.POSITIONAL_OR_KEYWORD,
        inspect.Parameter.POSITIONAL_OR_KEYWORD,
        inspect.Parameter.KEYWORD_ONLY,
    ]
    doc = cast_array.__doc__.split("\n")
    assert len(doc) == 18  # the 21 lines less the signature, "--" and the blank line
    assert doc[0] == "Cast a numpy array to a new dtype, allocating a new output array."
    assert doc[-1] == "conversion errors. Returns `TypeError` for unsupported dtypes."
    assert not cast_array.__doc__.endswith("\n")
    into_doc = cast_array_into.__doc__.split("\n")
    assert into_doc[0] == "Cast a numpy array into a pre-allocated output array."
    assert "* `out` - Pre-allocated output numpy array (must match input shape)" in into_doc
    assert into_doc[-2:] == [
        "Returns `ValueError` for shape mismatch, invalid modes, or conversion",
        "errors. Returns `TypeError` for unsupported dtypes.",
    ]


OUT = np.zeros(3, dtype=np.uint8)

# (function, args, kwargs, exception, exact message or prefix ending in "...")
BINDING_CASES = [
    (cast_array, (A, "int8"), dict(rounding_mode="towards-zero"), TypeError,
     "cast_array() takes 1 positional arguments but 2 were given"),
    (cast_array_into, (A, OUT, "x"), {}, TypeError,
     "cast_array_into() takes 2 positional arguments but 3 were given"),
    (cast_array, (A,), {}, TypeError,
     "cast_array() missing 2 required keyword arguments: 'target_dtype' and 'rounding_mode'"),
    (cast_array, (), dict(target_dtype="int8", rounding_mode="nearest-even"), TypeError,
     "cast_array() missing 1 required positional argument: 'arr'"),
    (cast_array_into, (), {}, TypeError,
     "cast_array_into() missing 2 required positional arguments: 'arr' and 'out'"),
    (cast_array_into, (A, OUT), {}, TypeError,
     "cast_array_into() missing 1 required keyword argument: 'rounding_mode'"),
    (cast_array, (A,), dict(arr=A, target_dtype="int8", rounding_mode="nearest-even"), TypeError,
     "cast_array() got multiple values for argument 'arr'"),
    (cast_array, (A,), dict(target_dtype="int8", rounding_mode="nearest-even", mode="clamp"), TypeError,
     "cast_array() got an unexpected keyword argument 'mode'"),
    # keywords are examined in the order given, before anything is missing
    (cast_array, (), dict(bogus=1, arr=A), TypeError,
     "cast_array() got an unexpected keyword argument 'bogus'"),
    (cast_array, ([1, 2],), dict(target_dtype="int8", rounding_mode="nearest-even"), TypeError,
     "argument 'arr': 'list' object cannot be converted to '..."),
    (cast_array_into, (A, [1]), dict(rounding_mode="nearest-even"), TypeError,
     "argument 'out': 'list' object cannot be converted to '..."),
    (cast_array, (A,), dict(target_dtype=None, rounding_mode="nearest-even"), TypeError,
     "argument 'target_dtype': 'NoneType' object cannot be converted to '..."),
    (cast_array, (A,), dict(target_dtype="int8", rounding_mode=3), TypeError,
     "argument 'rounding_mode': 'int' object cannot be converted to '..."),
    (cast_array, (A,), dict(target_dtype="int8", rounding_mode=None), TypeError,
     "argument 'rounding_mode': 'NoneType' object cannot be converted to '..."),
    (cast_array, (A,), dict(target_dtype="int8", rounding_mode="Nearest-Even"), ValueError,
     "Unknown rounding mode: Nearest-Even"),
    (cast_array, (A,), dict(target_dtype="int8", rounding_mode=""), ValueError,
     "Unknown rounding mode: "),
    (cast_array, (A,), dict(target_dtype="int8", rounding_mode="nearest-even", out_of_range_mode=1.5),
     TypeError, "argument 'out_of_range_mode': 'float' object cannot be converted to '..."),
    (cast_array, (A,), dict(target_dtype="int8", rounding_mode="nearest-even", out_of_range_mode="CLAMP"),
     ValueError, "Unknown out_of_range mode: CLAMP"),
    # argument conversion runs in parameter order
    (cast_array, (A,), dict(target_dtype=1, rounding_mode="bad"), TypeError,
     "argument 'target_dtype': 'int' object cannot be converted to '..."),
    (cast_array, ([1],), dict(target_dtype=1, rounding_mode=2), TypeError,
     "argument 'arr': 'list' object cannot be converted to '..."),
    # mode errors come before the dtype is looked at
    (cast_array, (np.array([True]),), dict(target_dtype="int8", rounding_mode="bad"), ValueError,
     "Unknown rounding mode: bad"),
]


@pytest.mark.parametrize("fn, args, kwargs, exc, message", BINDING_CASES)
def test_binding_and_conversion_messages(fn, args, kwargs, exc, message):
    with pytest.raises(Exception) as info:
        fn(*args, **kwargs)
    assert type(info.value) is exc
    text = str(info.value)
    if message.endswith("..."):
        assert text.startswith(message[:-3]) and text.endswith("'")
    else:
        assert text == message


def test_type_mismatch_names_one_kind_per_argument_kind():
    def message(**kwargs):
        with pytest.raises(TypeError) as info:
            cast_array(**kwargs)
        return str(info.value).split("converted to ", 1)[1]

    arr_kind = message(arr=[1], target_dtype="int8", rounding_mode="nearest-even")
    str_kind = message(arr=A, target_dtype=1, rounding_mode="nearest-even")
    assert str_kind == message(arr=A, target_dtype="int8", rounding_mode=b"x")
    assert arr_kind != str_kind


def test_keyword_arguments_and_none_defaults():
    out = cast_array(arr=A, target_dtype="int8", rounding_mode="towards-zero",
                     out_of_range_mode=None, scalar_map_entries=None)
    assert out.tolist() == [1, 2, 3]
    target = np.zeros(3, dtype=np.int8)
    assert cast_array_into(out=target, arr=A, rounding_mode="nearest-even") is None
    assert target.tolist() == [1, 2, 3]


def test_str_subclasses_are_accepted():
    class Text(str):
        pass

    out = cast_array(A, target_dtype=Text("uint8"), rounding_mode=Text("nearest-even"),
                     out_of_range_mode=Text("clamp"))
    assert out.dtype == np.uint8


def test_texts_with_odd_characters_are_reported_as_written():
    with pytest.raises(ValueError) as info:
        cast_array(A, target_dtype="int8", rounding_mode="nearest-even\x00!")
    assert str(info.value) == "Unknown rounding mode: nearest-even\x00!"
    with pytest.raises(TypeError, match="^Unsupported target dtype: int8 $"):
        cast_array(A, target_dtype="int8 ", rounding_mode="nearest-even")


def test_lone_surrogates_are_texts_like_any_other():
    with pytest.raises(ValueError) as info:
        cast_array(A, target_dtype="int8", rounding_mode="near\ud800")
    assert str(info.value) == "Unknown rounding mode: near\ud800"
    with pytest.raises(ValueError) as info:
        cast_array(A, target_dtype="int8", rounding_mode="nearest-even", out_of_range_mode="\udfff")
    assert str(info.value) == "Unknown out_of_range mode: \udfff"
    with pytest.raises(TypeError) as info:
        cast_array(A, target_dtype="int\ud800", rounding_mode="nearest-even")
    assert str(info.value) == "Unsupported target dtype: int\ud800"
    # the dtype of the array is named before the target text is looked at
    with pytest.raises(TypeError, match="^Unsupported numpy dtype: bool$"):
        cast_array(np.zeros(2, bool), target_dtype="\ud800", rounding_mode="nearest-even")
    with pytest.raises(TypeError, match="unexpected keyword argument"):
        cast_array(A, target_dtype="int8", rounding_mode="nearest-even", **{"\ud800": 1})
