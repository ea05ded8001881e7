#pragma once

#include <cmath>
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

// The same for a mode fixed at compile time and a float32 or float64
// result, without branches so that a loop over a run vectorises. A step is
// one unit of the bit pattern: up in magnitude for a step away from zero.
// The zero of the wrong sign never needs a step (the nearest result keeps
// the sign of `exact`), and NaN compares false everywhere and stays.
template <RoundingMode M, class F>
    requires std::is_floating_point_v<F>
F round_nearest_to_mode(F nearest, double exact) {
    using Bits = typename FloatFormat<F>::Bits;
    const double d = nearest;
    const Bits bits = float_to_bits(nearest);
    const bool negative = (bits & FloatFormat<F>::sign_mask) != 0;
    const auto step = [&](bool up) {
        return float_from_bits<F>(static_cast<Bits>(up != negative ? bits + 1 : bits - 1));
    };
    if constexpr (M == RoundingMode::NearestEven) {
        return nearest;
    } else if constexpr (M == RoundingMode::TowardsZero) {
        return std::fabs(d) > std::fabs(exact) ? float_from_bits<F>(static_cast<Bits>(bits - 1)) : nearest;
    } else if constexpr (M == RoundingMode::TowardsPositive) {
        return d < exact ? step(true) : nearest;
    } else if constexpr (M == RoundingMode::TowardsNegative) {
        return d > exact ? step(false) : nearest;
    } else {
        const F other = step(exact > d);
        const double t = other;
        return (d + t) / 2 == exact && std::fabs(t) > std::fabs(d) ? other : nearest;
    }
}

}  // namespace quellon
