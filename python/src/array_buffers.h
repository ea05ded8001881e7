#pragma once

// Element runs over NumPy buffers. Include only after numpy_api.h.

#include <cstdint>
#include <cstring>
#include <span>

#include "numpy_api.h"
#include "py_ref.h"

namespace quellon::py {

// dtype equivalent to T's native dtype (kind, size and byte order; long and
// long long count as the same 64-bit type).
template <class T>
bool has_native_type(PyArrayObject* array) {
    PyRef expected = PyRef::steal(reinterpret_cast<PyObject*>(PyArray_DescrFromType(NumpyType<T>::typenum)));
    return expected && PyArray_EquivTypes(PyArray_DESCR(array), reinterpret_cast<PyArray_Descr*>(expected.get()));
}

inline bool is_c_contiguous(PyArrayObject* a) { return PyArray_IS_C_CONTIGUOUS(a); }
inline bool is_contiguous(PyArrayObject* a) { return PyArray_IS_C_CONTIGUOUS(a) || PyArray_IS_F_CONTIGUOUS(a); }
// Only Fortran-ordered: memory order differs from logical (C) order.
inline bool is_fortran_only(PyArrayObject* a) { return !PyArray_IS_C_CONTIGUOUS(a) && PyArray_IS_F_CONTIGUOUS(a); }

inline std::size_t element_count(PyArrayObject* a) { return static_cast<std::size_t>(PyArray_SIZE(a)); }
inline std::size_t byte_count(PyArrayObject* a) { return element_count(a) * static_cast<std::size_t>(PyArray_ITEMSIZE(a)); }

template <class T>
bool is_aligned_for(PyArrayObject* a) {
    return element_count(a) == 0 || reinterpret_cast<std::uintptr_t>(PyArray_DATA(a)) % alignof(T) == 0;
}

inline bool shares_memory(PyArrayObject* a, PyArrayObject* b) {
    if (element_count(a) == 0 || element_count(b) == 0) return false;
    const auto* a0 = static_cast<const char*>(PyArray_DATA(a));
    const auto* b0 = static_cast<const char*>(PyArray_DATA(b));
    return a0 < b0 + byte_count(b) && b0 < a0 + byte_count(a);
}

inline bool same_shape(PyArrayObject* a, PyArrayObject* b) {
    return PyArray_NDIM(a) == PyArray_NDIM(b) &&
           std::equal(PyArray_DIMS(a), PyArray_DIMS(a) + PyArray_NDIM(a), PyArray_DIMS(b));
}

// A contiguous copy in the given memory order; NumPy's copy is aligned
// whatever the source's alignment, and owns memory separate from any output.
inline PyRef contiguous_copy(PyArrayObject* a, NPY_ORDER order) {
    return PyRef::steal(PyArray_NewCopy(a, order));
}

inline PyArrayObject* as_array(const PyRef& ref) { return reinterpret_cast<PyArrayObject*>(ref.get()); }

template <class T>
std::span<const T> read_run(PyArrayObject* a) {
    return {static_cast<const T*>(PyArray_DATA(a)), element_count(a)};
}

template <class T>
std::span<T> write_run(PyArrayObject* a) {
    return {static_cast<T*>(PyArray_DATA(a)), element_count(a)};
}

}  // namespace quellon::py
