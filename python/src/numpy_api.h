#pragma once

// Include only from lib.cpp: the NumPy API table is private to that unit.
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <Python.h>
#include <numpy/arrayobject.h>
#include <numpy/npy_2_compat.h>

#include <cstdint>

#include "element_types.h"

namespace quellon::py {

// NumPy's array interface is obtained on the first call that needs it, so
// importing the module does not import NumPy.
inline bool ensure_numpy() { return PyArray_ImportNumPyAPI() == 0; }

template <class T>
struct NumpyType;
template <> struct NumpyType<std::int8_t> { static constexpr int typenum = NPY_INT8; };
template <> struct NumpyType<std::int16_t> { static constexpr int typenum = NPY_INT16; };
template <> struct NumpyType<std::int32_t> { static constexpr int typenum = NPY_INT32; };
template <> struct NumpyType<std::int64_t> { static constexpr int typenum = NPY_INT64; };
template <> struct NumpyType<std::uint8_t> { static constexpr int typenum = NPY_UINT8; };
template <> struct NumpyType<std::uint16_t> { static constexpr int typenum = NPY_UINT16; };
template <> struct NumpyType<std::uint32_t> { static constexpr int typenum = NPY_UINT32; };
template <> struct NumpyType<std::uint64_t> { static constexpr int typenum = NPY_UINT64; };
template <> struct NumpyType<Float16> { static constexpr int typenum = NPY_HALF; };
template <> struct NumpyType<float> { static constexpr int typenum = NPY_FLOAT32; };
template <> struct NumpyType<double> { static constexpr int typenum = NPY_FLOAT64; };

}  // namespace quellon::py
