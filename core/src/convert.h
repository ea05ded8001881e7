#pragma once

#include <span>

#include "cast_config.h"
#include "int_to_int.h"

namespace quellon {

// Whether the conversion family of the pair's kind is available.
template <class S, class T>
inline constexpr bool family_built = IntegerElement<S> && IntegerElement<T>;

// The conversion family of the pair (S, T), chosen by the kinds of S and T.
template <class S, class T>
    requires family_built<S, T>
CastResult convert_slice(std::span<const S> src, std::span<T> dst, const CastConfig<S, T>& config) {
    if constexpr (IntegerElement<S> && IntegerElement<T>) {
        return convert_slice_int_to_int<S, T>(src, dst, config);
    }
}

}  // namespace quellon
