#pragma once

#include <string>

#include "numpy_api.h"

namespace quellon::py {

// "[2, 3]"; a zero-dimensional array's shape is "[]".
inline std::string shape_text(PyArrayObject* a) {
    std::string out = "[";
    for (int i = 0; i < PyArray_NDIM(a); ++i) {
        if (i > 0) out += ", ";
        out += std::to_string(PyArray_DIMS(a)[i]);
    }
    return out + "]";
}

inline void raise_shape_mismatch(PyArrayObject* arr, PyArrayObject* out) {
    const std::string message =
        "Shape mismatch: input shape " + shape_text(arr) + " != output shape " + shape_text(out);
    PyErr_SetString(PyExc_ValueError, message.c_str());
}

}  // namespace quellon::py
