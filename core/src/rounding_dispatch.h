#pragma once

#include <type_traits>

#include "modes.h"

namespace quellon {

template <RoundingMode M>
using RoundingConstant = std::integral_constant<RoundingMode, M>;

// Calls fn with the mode as a compile-time constant, so that a loop over a
// run is compiled once per mode instead of branching on it per element.
template <class Fn>
decltype(auto) with_rounding_mode(RoundingMode mode, Fn&& fn) {
    switch (mode) {
        case RoundingMode::TowardsZero:
            return fn(RoundingConstant<RoundingMode::TowardsZero>{});
        case RoundingMode::TowardsPositive:
            return fn(RoundingConstant<RoundingMode::TowardsPositive>{});
        case RoundingMode::TowardsNegative:
            return fn(RoundingConstant<RoundingMode::TowardsNegative>{});
        case RoundingMode::NearestAway:
            return fn(RoundingConstant<RoundingMode::NearestAway>{});
        case RoundingMode::NearestEven:
            break;
    }
    return fn(RoundingConstant<RoundingMode::NearestEven>{});
}

}  // namespace quellon
