#pragma once

// The typed drivers: from two NumPy arrays to one run of the pair's family.
// Include only after numpy_api.h.

#include <optional>
#include <string>

#include "array_buffers.h"
#include "convert.h"
#include "errors.h"
#include "map_entries.h"
#include "shape_text.h"

namespace quellon::py {

struct CallModes {
    RoundingMode rounding_mode;
    OptionalOutOfRange out_of_range_mode;
    PyObject* map_entries;  // borrowed; null when absent
};

// The input checks, in order: element type, then layout.
template <class S>
bool check_input(PyArrayObject* arr) {
    if (!has_native_type<S>(arr)) {
        raise_type_mismatch(reinterpret_cast<PyObject*>(arr), kTypedArrayKind);
        return false;
    }
    if (!is_contiguous(arr)) {
        PyErr_SetString(PyExc_ValueError, "Input array must be contiguous");
        return false;
    }
    return true;
}

template <class S, class T>
std::optional<CastConfig<S, T>> make_config(PyArrayObject* arr, const CallModes& modes) {
    std::optional<ScalarMap<S, T>> map = parse_map_entries<S, T>(modes.map_entries);
    if (!map) return std::nullopt;
    // Reading a map may run the caller's Python code, which may have changed
    // the input: look at it afresh before touching its buffer.
    if (modes.map_entries && !check_input<S>(arr)) return std::nullopt;
    return CastConfig<S, T>{modes.rounding_mode, modes.out_of_range_mode, std::move(*map)};
}

template <class S, class T>
PyObject* cast_alloc(PyArrayObject* arr, const CallModes& modes) {
    if (!check_input<S>(arr)) return nullptr;
    std::optional<CastConfig<S, T>> config = make_config<S, T>(arr, modes);
    if (!config) return nullptr;
    // A Fortran-ordered input gets a Fortran-ordered result, so elements
    // pair up by memory position without landing transposed.
    const bool fortran = is_fortran_only(arr);
    PyArray_Descr* descr = PyArray_DescrFromType(NumpyType<T>::typenum);
    if (!descr) return nullptr;
    // Every element is written on success and the array is dropped on failure,
    // so zero-filling it first would only cost time.
    PyRef out = PyRef::steal(PyArray_Empty(PyArray_NDIM(arr), PyArray_DIMS(arr), descr, fortran ? 1 : 0));
    if (!out) return nullptr;
    if (fortran ? !PyArray_IS_F_CONTIGUOUS(as_array(out)) : !is_c_contiguous(as_array(out))) {
        PyErr_SetString(PyExc_ValueError, "Failed to get mutable slice from output array");
        return nullptr;
    }
    PyArrayObject* source = arr;
    PyRef staged;
    if (!is_aligned_for<S>(arr)) {
        staged = contiguous_copy(arr, NPY_KEEPORDER);
        if (!staged) return nullptr;
        source = as_array(staged);
    }
    const CastResult result = convert_slice<S, T>(read_run<S>(source), write_run<T>(as_array(out)), *config);
    if (!result.ok()) {
        raise_cast_error(result.error());
        return nullptr;
    }
    return out.release();
}

template <class S, class T>
bool run_into(PyArrayObject* arr, PyArrayObject* out, const CastConfig<S, T>& config) {
    // Read the input from a private copy when it cannot be read in place:
    // misaligned, in Fortran order against a C-ordered output, or sharing
    // memory with the output other than as the very same elements.
    const bool in_place = PyArray_DATA(arr) == PyArray_DATA(out) && sizeof(S) == sizeof(T);
    PyArrayObject* source = arr;
    PyRef staged_in;
    if (!is_aligned_for<S>(arr) || is_fortran_only(arr) || (shares_memory(arr, out) && !in_place)) {
        staged_in = contiguous_copy(arr, NPY_CORDER);
        if (!staged_in) return false;
        source = as_array(staged_in);
    }
    // A misaligned output is converted in an aligned copy of itself, which is
    // then written back whole, so untouched elements keep their contents.
    PyArrayObject* target = out;
    PyRef staged_out;
    if (!is_aligned_for<T>(out)) {
        staged_out = contiguous_copy(out, NPY_CORDER);
        if (!staged_out) return false;
        target = as_array(staged_out);
    }
    const CastResult result = convert_slice<S, T>(read_run<S>(source), write_run<T>(target), config);
    if (target != out) std::memcpy(PyArray_DATA(out), PyArray_DATA(target), byte_count(out));
    if (!result.ok()) {
        raise_cast_error(result.error());
        return false;
    }
    return true;
}

template <class S, class T>
PyObject* cast_into(PyArrayObject* arr, PyArrayObject* out, const CallModes& modes) {
    if (!check_input<S>(arr)) return nullptr;
    std::optional<CastConfig<S, T>> config = make_config<S, T>(arr, modes);
    if (!config) return nullptr;
    if (!same_shape(arr, out)) {
        raise_shape_mismatch(arr, out);
        return nullptr;
    }
    if (!has_native_type<T>(out)) {
        raise_type_mismatch(reinterpret_cast<PyObject*>(out), kTypedArrayKind);
        return nullptr;
    }
    if (!is_c_contiguous(out) || !PyArray_ISWRITEABLE(out)) {
        PyErr_SetString(PyExc_ValueError, "Output array must be contiguous and writeable");
        return nullptr;
    }
    if (!run_into<S, T>(arr, out, *config)) return nullptr;
    Py_RETURN_NONE;
}

}  // namespace quellon::py
