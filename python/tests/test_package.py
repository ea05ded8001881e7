"""The `quellon` package around the extension: re-exports, version, type aliases."""
import importlib.metadata
import tomllib
import typing
from pathlib import Path

import numpy as np
import pytest

import _quellon
import quellon

PYPROJECT = Path(__file__).parents[2] / "pyproject.toml"


def test_reexports_the_extension_functions():
    assert quellon.cast_array is _quellon.cast_array
    assert quellon.cast_array_into is _quellon.cast_array_into
    assert {"cast_array", "cast_array_into"} <= set(quellon.__all__)
    assert all(hasattr(quellon, name) for name in quellon.__all__)


def test_version_is_the_one_in_pyproject():
    with PYPROJECT.open("rb") as f:
        declared = tomllib.load(f)["project"]["version"]
    assert quellon.__version__ == declared == importlib.metadata.version("quellon")


def test_dtype_keys_are_exactly_the_numeric_dtypes_the_module_accepts():
    a = np.arange(3, dtype=np.int16)
    accepted = set()
    for code in np.typecodes["AllInteger"] + np.typecodes["AllFloat"]:
        name = np.dtype(code).name
        try:
            result = quellon.cast_array(a, target_dtype=name, rounding_mode="nearest-even")
        except TypeError as error:
            assert str(error) == f"Unsupported target dtype: {name}"
        else:
            assert result.dtype.name == name and result.tolist() == [0, 1, 2]
            accepted.add(name)
    assert accepted == set(typing.get_args(quellon.DTypeKey))


@pytest.mark.parametrize("rounding", typing.get_args(quellon.RoundingMode))
@pytest.mark.parametrize("out_of_range", typing.get_args(quellon.OutOfRangeMode) + (None,))
def test_every_listed_mode_is_accepted(rounding, out_of_range):
    out = quellon.cast_array(np.array([2.5, 300.0]), target_dtype="uint8", rounding_mode=rounding,
                             out_of_range_mode=out_of_range, scalar_map_entries={300.0: 7})
    assert out[1] == 7

