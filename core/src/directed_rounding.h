#pragma once

#include <limits>
#include <type_traits>

#include "float_bits.h"
#include "float_widening.h"
#include "modes.h"

namespace quellon {

// Turns the round-to-nearest-even result `nearest` of a value whose exact
// value is `exact` into the result under `mode`. The nearest result is one
// of the two neighbours of `exact`, so at most one step is ever needed.
// Every comparison is made in float64, which holds both neighbours and
// their midpoint exactly.
template <FloatElement F>
F apply_rounding_mode(F nearest, double exact, RoundingMode mode) {
    const double d = to_float64(nearest);
    if (mode == RoundingMode::NearestEven || d == exact) return nearest;
    switch (mode) {
        case RoundingMode::TowardsZero:
            if ((d < 0 ? -d : d) > (exact < 0 ? -exact : exact)) {
                return exact > 0 ? next_down(nearest) : next_up(nearest);
            }
            return nearest;
        case RoundingMode::TowardsPositive:
            return d < exact ? next_up(nearest) : nearest;
        case RoundingMode::TowardsNegative:
            return d > exact ? next_down(nearest) : nearest;
        case RoundingMode::NearestAway: {
            // Nearest-even already settled everything but exact ties; a tie
            // moves only when the even neighbour was the one nearer zero.
            const F other = exact > d ? next_up(nearest) : next_down(nearest);
            const double t = to_float64(other);
            const double midpoint = (d + t) / 2;
            return midpoint == exact && (t < 0 ? -t : t) > (d < 0 ? -d : d) ? other : nearest;
        }
        case RoundingMode::NearestEven:
            break;
    }
    return nearest;
}

}  // namespace quellon
