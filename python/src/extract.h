#pragma once

#include <Python.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <type_traits>

#include "element_types.h"
#include "float16_impls.h"

namespace quellon::py {

// One Python object as a value of element type T, or nullopt with a Python
// exception possibly set (the caller replaces it with its own message).
// Integer types never take a Python float, not even 3.0.
template <class T>
std::optional<T> extract_from_py(PyObject* obj) {
    if constexpr (std::is_same_v<T, std::uint64_t>) {
        if (PyLong_Check(obj)) {
            const unsigned long long v = PyLong_AsUnsignedLongLong(obj);
            if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::nullopt;
            return v;
        }
        PyObject* index = PyNumber_Index(obj);
        if (!index) return std::nullopt;
        const unsigned long long v = PyLong_AsUnsignedLongLong(index);
        Py_DECREF(index);
        if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::nullopt;
        return v;
    } else if constexpr (std::is_integral_v<T>) {
        static_assert(sizeof(long) == 8, "a 64-bit long is assumed");
        const long v = PyLong_AsLong(obj);
        if (v == -1 && PyErr_Occurred()) return std::nullopt;
        if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()) return std::nullopt;
        return static_cast<T>(v);
    } else if constexpr (std::is_same_v<T, double>) {
        if (PyFloat_CheckExact(obj)) return PyFloat_AS_DOUBLE(obj);
        const double v = PyFloat_AsDouble(obj);
        if (v == -1.0 && PyErr_Occurred()) return std::nullopt;
        return v;
    } else if constexpr (std::is_same_v<T, float>) {
        // Rounds to nearest; beyond float32's range this gives an infinity.
        const std::optional<double> v = extract_from_py<double>(obj);
        if (!v) return std::nullopt;
        return static_cast<float>(*v);
    } else {
        static_assert(std::is_same_v<T, Float16>);
        // Rounded twice, through float32, like every float16 value taken in.
        const std::optional<float> v = extract_from_py<float>(obj);
        if (!v) return std::nullopt;
        return float32_to_float16(*v);
    }
}

}  // namespace quellon::py
