#pragma once

#include <cmath>

#include "float16_impls.h"
#include "modes.h"

namespace quellon {

// Rounding to an integral value and the Euclidean remainder, carried out in
// the working precision of each float type (binary32 for Float16 and float,
// binary64 for double).
template <class F>
struct CastFloat;

// float and double share one definition; the std overloads pick the binary32
// or binary64 library function by argument type.
template <class F>
struct CastFloatNative {
    static F round_with_mode(F x, RoundingMode mode) {
        switch (mode) {
            case RoundingMode::NearestEven: return std::rint(x);
            case RoundingMode::TowardsZero: return std::trunc(x);
            case RoundingMode::TowardsPositive: return std::ceil(x);
            case RoundingMode::TowardsNegative: return std::floor(x);
            // round() decides the tie on x itself; floor(|x| + 0.5) would
            // round the sum first and move 0.49999997 and odd integers
            // just below 2^24 (2^53 for double).
            case RoundingMode::NearestAway: return std::round(x);
        }
        return x;
    }

    // fmod is exact; adding |m| can round up to |m| itself when r is tiny
    // next to m. A remainder of -0.0 is not below zero and stays -0.0.
    static F rem_euclid(F a, F m) {
        const F r = std::fmod(a, m);
        return r < F(0) ? r + std::fabs(m) : r;
    }
};

template <>
struct CastFloat<float> : CastFloatNative<float> {};

template <>
struct CastFloat<double> : CastFloatNative<double> {};

template <>
struct CastFloat<Float16> {
    static Float16 round_with_mode(Float16 x, RoundingMode mode) { return float16_round_with_mode(x, mode); }
    static Float16 rem_euclid(Float16 a, Float16 m) { return float16_rem_euclid(a, m); }
};

}  // namespace quellon
