#pragma once

#include <cmath>
#include <type_traits>

#include "element_types.h"
#include "float16_impls.h"

namespace quellon {

// The precision values of F are compared and rounded in: binary16 widens to
// binary32 exactly, and every binary16 operation is carried out there.
template <FloatElement F>
using WorkingFloat = std::conditional_t<std::is_same_v<F, double>, double, float>;

template <FloatElement F>
inline WorkingFloat<F> widen(F x) {
    if constexpr (std::is_same_v<F, Float16>) {
        return float16_to_float32(x);
    } else {
        return x;
    }
}

// Exact for every source; errors carry their numbers as float64.
template <FloatElement F>
inline double to_float64(F x) {
    return static_cast<double>(widen(x));
}

template <FloatElement F>
constexpr bool is_nan_value(F x) {
    if constexpr (std::is_same_v<F, Float16>) {
        return x.is_nan();
    } else {
        return x != x;
    }
}

template <FloatElement F>
inline bool is_inf_value(F x) {
    if constexpr (std::is_same_v<F, Float16>) {
        return x.is_inf();
    } else {
        return std::isinf(x);
    }
}

}  // namespace quellon
