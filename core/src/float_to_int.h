#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <type_traits>

#include "cast_config.h"
#include "cast_float.h"
#include "element_loop.h"
#include "float_widening.h"
#include "rounding_dispatch.h"
#include "simd/kernels.h"
#include "straight_loops.h"

namespace quellon {

// Saturating conversion of an integral (or infinite) working value to I: NaN
// gives 0 and either side beyond I gives that end of I. Whatever reaches the
// cast lies strictly inside (min - 1, 2^digits), where it is defined.
template <FloatElement F, IntegerElement I>
I saturate_to_int(WorkingFloat<F> r) {
    using Work = WorkingFloat<F>;
    constexpr Work lo = static_cast<Work>(std::numeric_limits<I>::min());
    // One past the maximum, 2^digits, exact in every working precision.
    constexpr Work end = static_cast<Work>(std::numeric_limits<I>::max() / 2 + 1) * 2;
    if (r >= end) return std::numeric_limits<I>::max();
    if (r > lo) return static_cast<I>(r);
    if (r <= lo) return std::numeric_limits<I>::min();
    return 0;
}

// The target's bounds as the source type holds them, each rounded to
// nearest (binary16 through binary32): a maximum that F cannot hold rounds
// up, and a bound beyond F's range becomes an infinity. All range tests and
// the wrap arithmetic are done in F against these, so each pair's edges are
// those of its source type.
template <FloatElement F, IntegerElement I>
struct FloatIntBounds {
    F lo;
    F hi;
    F modulus;  // (hi - lo) + 1, rounded in F after each operation

    static F from_int(I v) {
        if constexpr (std::is_same_v<F, Float16>) {
            return float32_to_float16(static_cast<float>(v));
        } else {
            return static_cast<F>(v);
        }
    }

    static FloatIntBounds make() {
        const F lo = from_int(std::numeric_limits<I>::min());
        const F hi = from_int(std::numeric_limits<I>::max());
        if constexpr (std::is_same_v<F, Float16>) {
            return {lo, hi, float16_add(float16_sub(hi, lo), float32_to_float16(1.0f))};
        } else {
            return {lo, hi, (hi - lo) + F(1)};
        }
    }

    WorkingFloat<F> lo_value() const { return widen(lo); }
    WorkingFloat<F> hi_value() const { return widen(hi); }
    bool contains(WorkingFloat<F> r) const { return !(r < lo_value() || r > hi_value()); }

    CastError error(WorkingFloat<F> r) const {
        return CastError::out_of_range(static_cast<double>(r), to_float64(lo), to_float64(hi));
    }

    // w = rem_euclid(r - lo, modulus) + lo with F's rounding after each step:
    // beyond F's integer precision the steps round, and an infinite modulus
    // turns every out-of-range value into a saturated one.
    WorkingFloat<F> wrap(WorkingFloat<F> r) const {
        if constexpr (std::is_same_v<F, Float16>) {
            const Float16 r16 = float32_to_float16(r);  // integral binary16 values convert exactly
            return widen(float16_add(float16_rem_euclid(float16_sub(r16, lo), modulus), lo));
        } else {
            return CastFloat<F>::rem_euclid(r - lo, modulus) + lo;
        }
    }
};

// A binary16 rounds by rounding its binary32 widening, whose integral
// result binary16 holds exactly, so every source rounds in its working
// precision.
template <FloatElement F>
WorkingFloat<F> round_element(WorkingFloat<F> x, RoundingMode mode) {
    return CastFloat<WorkingFloat<F>>::round_with_mode(x, mode);
}

template <FloatElement F, IntegerElement I>
std::optional<CastError> float_to_int_checked(F x, I& out, RoundingMode mode, const FloatIntBounds<F, I>& b) {
    const auto v = widen(x);
    if (v != v) return CastError::not_castable(v);
    const auto r = round_element<F>(v, mode);
    if (!b.contains(r)) return b.error(r);
    out = saturate_to_int<F, I>(r);
    return std::nullopt;
}

template <FloatElement F, IntegerElement I>
std::optional<CastError> float_to_int_clamped(F x, I& out, RoundingMode mode, const FloatIntBounds<F, I>& b) {
    const auto v = widen(x);
    if (v != v) return CastError::not_castable(v);
    const auto r = round_element<F>(v, mode);
    const auto c = r < b.lo_value() ? b.lo_value() : (r > b.hi_value() ? b.hi_value() : r);
    out = saturate_to_int<F, I>(c);
    return std::nullopt;
}

template <FloatElement F, IntegerElement I>
std::optional<CastError> float_to_int_wrapped(F x, I& out, RoundingMode mode, const FloatIntBounds<F, I>& b) {
    const auto v = widen(x);
    if (v != v) return CastError::not_castable(v);
    const auto r = round_element<F>(v, mode);
    if (std::isinf(r)) return CastError::not_castable(r);
    out = saturate_to_int<F, I>(b.contains(r) ? r : b.wrap(r));
    return std::nullopt;
}

template <FloatElement F, IntegerElement I>
std::optional<CastError> float_to_int_element(F x, I& out, RoundingMode mode, OptionalOutOfRange range_mode,
                                              const FloatIntBounds<F, I>& b) {
    if (!range_mode) return float_to_int_checked(x, out, mode, b);
    if (*range_mode == OutOfRangeMode::Clamp) return float_to_int_clamped(x, out, mode, b);
    return float_to_int_wrapped(x, out, mode, b);
}

// The vector kernels serve six pair-and-mode combinations; nullopt means
// the element loop must convert the run from its start.
template <FloatElement F, IntegerElement I>
std::optional<CastResult> offer_float_to_int_kernel(std::span<const F> src, std::span<I> dst, RoundingMode mode,
                                                    OptionalOutOfRange range_mode) {
    if (mode == RoundingMode::NearestAway || range_mode == OutOfRangeMode::Wrap) return std::nullopt;
    const bool clamp = range_mode.has_value();
    KernelResult outcome = false;
    if constexpr (std::is_same_v<F, float> && std::is_same_v<I, std::uint8_t>) {
        if (!clamp) return std::nullopt;
        outcome = try_f32_to_u8_clamp(src, dst, mode);
    } else if constexpr (std::is_same_v<F, double> && std::is_same_v<I, std::uint8_t>) {
        if (!clamp) return std::nullopt;
        outcome = try_f64_to_u8_clamp(src, dst, mode);
    } else if constexpr (std::is_same_v<F, double> && std::is_same_v<I, std::int32_t>) {
        outcome = clamp ? try_f64_to_i32_clamp(src, dst, mode) : try_f64_to_i32_check(src, dst, mode);
    } else if constexpr (std::is_same_v<F, float> && std::is_same_v<I, std::int16_t>) {
        if (!clamp) return std::nullopt;
        outcome = try_f32_to_i16_clamp(src, dst, mode);
    } else if constexpr (std::is_same_v<F, float> && std::is_same_v<I, std::uint16_t>) {
        if (!clamp) return std::nullopt;
        outcome = try_f32_to_u16_clamp(src, dst, mode);
    } else {
        return std::nullopt;
    }
    if (!outcome.ok()) return CastResult(outcome.error());
    if (outcome.value()) return CastResult(Ok{});
    return std::nullopt;
}

// Stops at the first failure; element i is read before it is written, so
// the source and the destination may be the very same buffer.
template <class S, class T, class Convert>
CastResult convert_straight(const S* in, T* out, std::size_t n, Convert convert) {
    for (std::size_t i = 0; i < n; ++i) {
        if (std::optional<CastError> error = convert(in[i], out[i])) return *error;
    }
    return Ok{};
}

// float and double sources whose target maximum they hold exactly: their
// bounds are the target's own, every rounded value inside them converts
// directly, and the checked and clamped loops vectorise.
template <FloatElement F, IntegerElement I>
constexpr bool holds_int_maximum() {
    if constexpr (std::is_same_v<F, Float16>) {
        return false;
    } else {
        return static_cast<long double>(static_cast<F>(std::numeric_limits<I>::max())) ==
               static_cast<long double>(std::numeric_limits<I>::max());
    }
}

template <FloatElement F, IntegerElement I>
inline constexpr bool float_to_int_straight = holds_int_maximum<F, I>();

// An integral value inside I's range as I. Narrow targets go through int32,
// which the vector conversion instructions produce directly.
template <IntegerElement I, class F>
I integral_to_int(F r) {
    if constexpr (sizeof(I) < sizeof(std::int32_t) || std::is_same_v<I, std::int32_t>) {
        return static_cast<I>(static_cast<std::int32_t>(r));
    } else {
        return static_cast<I>(r);
    }
}

template <FloatElement F, IntegerElement I, class Mode>
CastResult float_to_int_straight_run(const F* in, I* out, std::size_t n, Mode mode, bool clamp) {
    static constexpr F lo = static_cast<F>(std::numeric_limits<I>::min());
    static constexpr F hi = static_cast<F>(std::numeric_limits<I>::max());
    const auto rounded = [mode](F x) { return CastFloat<F>::round_with_mode(x, mode); };
    if (clamp) {
        const std::size_t failed = map_run_until(
            in, out, n, [](F x) { return x != x; },
            [rounded](F x) { return integral_to_int<I>(std::min(std::max(rounded(x), lo), hi)); });
        if (failed < n) return CastError::not_castable(in[failed]);
        return Ok{};
    }
    const std::size_t failed = map_run_until(
        in, out, n,
        [rounded](F x) {
            const F r = rounded(x);
            return !((r >= lo) & (r <= hi));
        },
        [rounded](F x) { return integral_to_int<I>(rounded(x)); });
    if (failed < n) {
        if (in[failed] != in[failed]) return CastError::not_castable(in[failed]);
        return CastError::out_of_range(rounded(in[failed]), lo, hi);
    }
    return Ok{};
}

template <FloatElement F, IntegerElement I>
CastResult convert_slice_float_to_int(std::span<const F> src, std::span<I> dst, const CastConfig<F, I>& config) {
    const std::size_t n = run_length(src, dst);
    const RoundingMode rounding = config.rounding_mode;
    const OptionalOutOfRange range_mode = config.out_of_range_mode;
    const FloatIntBounds<F, I> bounds = FloatIntBounds<F, I>::make();

    if (!config.scalar_map.empty()) {
        return convert_elements(src, dst, config.scalar_map, [&](F x, I& out) {
            return float_to_int_element(x, out, rounding, range_mode, bounds);
        });
    }
    if (std::optional<CastResult> done = offer_float_to_int_kernel(src.first(n), dst.first(n), rounding, range_mode)) {
        return *done;
    }
    return with_rounding_mode(rounding, [&](auto mode) -> CastResult {
        if constexpr (float_to_int_straight<F, I>) {
            if (range_mode != OutOfRangeMode::Wrap) {
                return float_to_int_straight_run(src.data(), dst.data(), n, mode, range_mode.has_value());
            }
        }
        if (!range_mode) {
            return convert_straight(src.data(), dst.data(), n,
                                    [mode, &bounds](F x, I& out) { return float_to_int_checked(x, out, mode, bounds); });
        }
        if (*range_mode == OutOfRangeMode::Clamp) {
            return convert_straight(src.data(), dst.data(), n,
                                    [mode, &bounds](F x, I& out) { return float_to_int_clamped(x, out, mode, bounds); });
        }
        return convert_straight(src.data(), dst.data(), n,
                                [mode, &bounds](F x, I& out) { return float_to_int_wrapped(x, out, mode, bounds); });
    });
}

}  // namespace quellon
