#pragma once

#include "modes.h"
#include "scalar_map.h"

namespace quellon {

// The options of one conversion call; it owns the call's typed map.
template <class S, class T>
struct CastConfig {
    RoundingMode rounding_mode = RoundingMode::NearestEven;
    OptionalOutOfRange out_of_range_mode;
    ScalarMap<S, T> scalar_map;
};

}  // namespace quellon
