#pragma once

#include <span>

#include "cast_config.h"
#include "float_to_float.h"
#include "float_to_int.h"
#include "int_to_float.h"
#include "int_to_int.h"

namespace quellon {

// The conversion family of the pair (S, T), chosen by the kinds of S and T.
template <class S, class T>
CastResult convert_slice(std::span<const S> src, std::span<T> dst, const CastConfig<S, T>& config) {
    if constexpr (IntegerElement<S> && IntegerElement<T>) {
        return convert_slice_int_to_int<S, T>(src, dst, config);
    } else if constexpr (FloatElement<S> && IntegerElement<T>) {
        return convert_slice_float_to_int<S, T>(src, dst, config);
    } else if constexpr (IntegerElement<S> && FloatElement<T>) {
        return convert_slice_int_to_float<S, T>(src, dst, config);
    } else {
        return convert_slice_float_to_float<S, T>(src, dst, config);
    }
}

}  // namespace quellon
