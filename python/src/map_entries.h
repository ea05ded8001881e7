#pragma once

#include <Python.h>

#include <optional>

#include "element_types.h"
#include "scalar_map.h"

namespace quellon::py {

// Turns the scalar_map_entries object (null when absent) into the pair's
// typed map, or sets a Python exception and returns nullopt.
template <class S, class T>
std::optional<ScalarMap<S, T>> parse_map_entries(PyObject* entries) {
    if (!entries) return ScalarMap<S, T>{};
    PyErr_SetString(PyExc_NotImplementedError, "scalar_map_entries is not supported yet");
    return std::nullopt;
}

}  // namespace quellon::py
