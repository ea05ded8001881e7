#pragma once

#include <Python.h>

#include <string_view>

#include "cast_error.h"

namespace quellon::py {

// The fixed names of the three kinds of object an argument may have to be.
inline constexpr const char* kAnyArrayKind = "ndarray";
inline constexpr const char* kStrKind = "str";
inline constexpr const char* kTypedArrayKind = "ndarray of native element type";

// Raises `type` with a message that may hold NULs and the surrogatepass
// bytes of a lone surrogate the caller wrote.
inline void raise_text(PyObject* type, std::string_view text) {
    PyObject* message = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogatepass");
    if (!message) return;
    PyErr_SetObject(type, message);
    Py_DECREF(message);
}

// "'{}' object cannot be converted to '{}'", optionally behind "argument '{}': ".
inline void raise_type_mismatch(PyObject* obj, const char* expected_kind, const char* argument = nullptr) {
    PyObject* qualname = PyType_GetQualName(Py_TYPE(obj));
    if (!qualname) return;
    if (argument) {
        PyErr_Format(PyExc_TypeError, "argument '%s': '%U' object cannot be converted to '%s'", argument, qualname,
                     expected_kind);
    } else {
        PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", qualname, expected_kind);
    }
    Py_DECREF(qualname);
}

inline void raise_cast_error(const CastError& error) { raise_text(PyExc_ValueError, error.message()); }

}  // namespace quellon::py
