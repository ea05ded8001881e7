#pragma once

// Per-element steps of the kernels: the whole of the generic tier and the
// remainder loop of the vector tiers.
//
// Everything here has internal linkage on purpose: each tier file compiles
// it with its own instruction set, and a shared out-of-line copy would let
// the linker hand AVX code to the generic tier.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>

#include "cast_error.h"
#include "modes.h"

namespace quellon::simd {
namespace {

using StepError = std::optional<CastError>;

template <class F>
F round_scalar(F x, RoundingMode mode) {
    switch (mode) {
        case RoundingMode::NearestEven: return std::rint(x);
        case RoundingMode::TowardsZero: return std::trunc(x);
        case RoundingMode::TowardsPositive: return std::ceil(x);
        case RoundingMode::TowardsNegative: return std::floor(x);
        case RoundingMode::NearestAway: return std::round(x);
    }
    return x;
}

// The integer target's range held in the float working precision; both
// bounds must be exact there, or clamping would produce values outside T.
template <class F, class T>
struct Bounds {
    static constexpr F lo = static_cast<F>(std::numeric_limits<T>::min());
    static constexpr F hi = static_cast<F>(std::numeric_limits<T>::max());
    static_assert(static_cast<long double>(lo) == std::numeric_limits<T>::min());
    static_assert(static_cast<long double>(hi) == std::numeric_limits<T>::max());
};

template <class F>
CastError nan_error(F v) {
    return CastError::not_castable(static_cast<double>(v));
}

// NaN fails; otherwise round, raise to lo, lower to hi (infinities become
// a bound) and convert, which is exact by then.
template <class T, class F>
StepError clamp_one(F v, RoundingMode mode, T& out) {
    if (std::isnan(v)) return nan_error(v);
    F r = round_scalar(v, mode);
    r = r < Bounds<F, T>::lo ? Bounds<F, T>::lo : r;
    r = r > Bounds<F, T>::hi ? Bounds<F, T>::hi : r;
    out = static_cast<T>(r);
    return std::nullopt;
}

// The range error carries the source value before rounding.
inline StepError check_i32_one(double v, RoundingMode mode, std::int32_t& out) {
    using B = Bounds<double, std::int32_t>;
    if (std::isnan(v)) return nan_error(v);
    const double r = round_scalar(v, mode);
    if (r < B::lo || r > B::hi) return CastError::out_of_range(v, B::lo, B::hi);
    out = static_cast<std::int32_t>(r);
    return std::nullopt;
}

inline CastError f32_overflow_error(double v) {
    const double max = std::numeric_limits<float>::max();
    return CastError::out_of_range(v, -max, max);
}

// A finite source that came out infinite overflowed binary32.
inline bool overflowed_f32(double src, float out) { return std::isfinite(src) && std::isinf(out); }

template <class F>
StepError first_nan(const F* in, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        if (std::isnan(in[k])) return nan_error(in[k]);
    }
    return std::nullopt;
}

// Elements from `begin` one at a time; stops before writing a failing one.
template <class S, class T, class One>
CastResult run_scalar(const S* in, T* out, std::size_t begin, std::size_t n, One&& one) {
    for (std::size_t i = begin; i < n; ++i) {
        if (StepError e = one(in[i], out[i])) return *e;
    }
    return Ok{};
}

// Whole blocks of `Block` elements, then the remainder through the scalar
// step. `block` stores a block only when it finds no failure in it.
template <std::size_t Block, class S, class T, class BlockFn, class One>
CastResult run_blocks(std::span<const S> src, std::span<T> dst, BlockFn&& block, One&& one) {
    const std::size_t n = std::min(src.size(), dst.size());
    const S* in = src.data();
    T* out = dst.data();
    std::size_t i = 0;
    for (; i + Block <= n; i += Block) {
        if (StepError e = block(in + i, out + i)) return *e;
    }
    return run_scalar(in, out, i, n, one);
}

template <class S, class T, class One>
CastResult run_all_scalar(std::span<const S> src, std::span<T> dst, One&& one) {
    return run_scalar(src.data(), dst.data(), 0, std::min(src.size(), dst.size()), one);
}

// Scalar reference of the float64-to-float32 kernel: convert everything,
// then look for the first overflow.
inline CastResult scan_f32_overflow(const double* in, const float* out, std::size_t begin, std::size_t n) {
    for (std::size_t i = begin; i < n; ++i) {
        if (overflowed_f32(in[i], out[i])) return f32_overflow_error(in[i]);
    }
    return Ok{};
}

}  // namespace
}  // namespace quellon::simd
