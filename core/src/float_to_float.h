#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <span>
#include <type_traits>

#include "cast_config.h"
#include "directed_rounding.h"
#include "element_loop.h"
#include "float16_impls.h"
#include "float_bits.h"
#include "float_widening.h"
#include "rounding_dispatch.h"
#include "simd/kernels.h"
#include "straight_loops.h"

namespace quellon {

template <FloatElement S, FloatElement T>
inline constexpr bool float_narrows = FloatFormat<T>::digits < FloatFormat<S>::digits;

// x converted to T with round to nearest, ties to even: exact for
// identical and widening pairs; NaNs stay quiet NaNs of the same sign.
// float64 reaches binary16 through float32, rounding twice: a value within
// half a float32 unit of a binary16 halfway point lands on it.
template <FloatElement T, FloatElement S>
T float_nearest(S x) {
    if constexpr (std::is_same_v<S, T>) {
        return x;
    } else if constexpr (std::is_same_v<T, Float16>) {
        if constexpr (std::is_same_v<S, double>) {
            return float32_to_float16(static_cast<float>(x));
        } else {
            return float32_to_float16(x);
        }
    } else {
        return static_cast<T>(widen(x));
    }
}

template <FloatElement S, FloatElement T>
CastError float_overflow_error(S x) {
    const double max = to_float64(max_finite<T>());
    return CastError::out_of_range(to_float64(x), -max, max);
}

// `check`: a finite value rounded to an infinity fails instead of being stored.
template <FloatElement S, FloatElement T>
std::optional<CastError> float_to_float_element(S x, T& out, RoundingMode mode, bool check) {
    T r = float_nearest<T>(x);
    if constexpr (float_narrows<S, T>) {
        if (!is_nan_value(x)) r = apply_rounding_mode(r, to_float64(x), mode);
        if (check && is_inf_value(r) && !is_inf_value(x)) return float_overflow_error<S, T>(x);
    }
    out = r;
    return std::nullopt;
}

inline constexpr std::size_t kFloatBlock = 256;

// A block of float_nearest<T>, through the binary16 run conversions where
// binary16 takes part.
template <FloatElement S, FloatElement T>
void float_nearest_block(const S* in, T* out, std::size_t m) {
    if constexpr (std::is_same_v<S, Float16> && std::is_same_v<T, float>) {
        float16_to_float32_run(in, out, m);
    } else if constexpr (std::is_same_v<S, Float16>) {
        float wide[kFloatBlock];
        float16_to_float32_run(in, wide, m);
        for (std::size_t j = 0; j < m; ++j) out[j] = static_cast<T>(wide[j]);
    } else if constexpr (std::is_same_v<S, float> && std::is_same_v<T, Float16>) {
        float32_to_float16_run(in, out, m);
    } else if constexpr (std::is_same_v<T, Float16>) {
        float narrowed[kFloatBlock];
        for (std::size_t j = 0; j < m; ++j) narrowed[j] = static_cast<float>(in[j]);
        float32_to_float16_run(narrowed, out, m);
    } else {
        for (std::size_t j = 0; j < m; ++j) out[j] = static_cast<T>(in[j]);
    }
}

template <FloatElement S, FloatElement T>
void widen_run(const S* in, T* out, std::size_t n) {
    if constexpr (!std::is_same_v<S, Float16>) {
        map_run(in, out, n, [](S x) { return static_cast<T>(x); });
        return;
    }
    for (std::size_t start = 0; start < n; start += kFloatBlock) {
        float_nearest_block(in + start, out + start, std::min(kFloatBlock, n - start));
    }
}

// A binary16 result under `mode` from its nearest one, in place.
template <FloatElement S>
void apply_mode_to_float16(const S* in, Float16* out, std::size_t m, RoundingMode mode) {
    if (mode == RoundingMode::NearestEven) return;
    for (std::size_t j = 0; j < m; ++j) {
        if (!is_nan_value(in[j])) out[j] = apply_rounding_mode(out[j], to_float64(in[j]), mode);
    }
}

// binary16 targets, a block at a time. Only a finite value beyond the
// largest binary16 can round to an infinity: a block without one is
// converted straight into place; one with it is rounded aside and stored
// only up to its first failing element, so nothing at or after a failure is
// written.
template <FloatElement S>
CastResult narrow_to_float16_run(const S* in, Float16* out, std::size_t n, RoundingMode mode, bool check) {
    const auto beyond = [](S x) { return (std::fabs(x) > S(kFloat16Max)) & !std::isinf(x); };
    for (std::size_t start = 0; start < n; start += kFloatBlock) {
        const std::size_t m = std::min(kFloatBlock, n - start);
        const S* block_in = in + start;
        if (!check || !any_in_run(block_in, m, beyond)) {
            float_nearest_block(block_in, out + start, m);
            apply_mode_to_float16(block_in, out + start, m, mode);
            continue;
        }
        Float16 block[kFloatBlock];
        float_nearest_block(block_in, block, m);
        apply_mode_to_float16(block_in, block, m, mode);
        std::size_t stored = 0;
        while (stored < m && !(block[stored].is_inf() && !is_inf_value(block_in[stored]))) ++stored;
        std::memcpy(out + start, block, stored * sizeof(Float16));
        if (stored < m) return float_overflow_error<S, Float16>(block_in[stored]);
    }
    return Ok{};
}

// float64 to float32 in any mode: one straight loop per mode. A finite value
// that rounds to an infinity fails, with everything before it stored.
template <FloatElement S, FloatElement T>
CastResult narrow_run(const S* in, T* out, std::size_t n, RoundingMode mode, bool check) {
    if constexpr (std::is_same_v<T, Float16>) {
        return narrow_to_float16_run(in, out, n, mode, check);
    } else {
        return with_rounding_mode(mode, [&](auto fixed) -> CastResult {
            const auto narrow = [](S x) {
                return round_nearest_to_mode<decltype(fixed)::value>(static_cast<T>(x), static_cast<double>(x));
            };
            // Towards zero, a finite value never rounds to an infinity.
            if (!check || decltype(fixed)::value == RoundingMode::TowardsZero) {
                map_run(in, out, n, narrow);
                return Ok{};
            }
            // Only a finite value beyond T's largest can round to an infinity.
            const auto beyond = [](S x) {
                return (std::fabs(x) > static_cast<S>(std::numeric_limits<T>::max())) & !std::isinf(x);
            };
            const auto overflows = [narrow](S x) { return std::isinf(narrow(x)) && !std::isinf(x); };
            const std::size_t failed = map_run_until(in, out, n, beyond, overflows, narrow);
            if (failed < n) return float_overflow_error<S, T>(in[failed]);
            return Ok{};
        });
    }
}

template <FloatElement S, FloatElement T>
CastResult convert_slice_float_to_float(std::span<const S> src, std::span<T> dst, const CastConfig<S, T>& config) {
    const std::size_t n = run_length(src, dst);
    const RoundingMode mode = config.rounding_mode;
    // Wrap has no meaning between float types and reports like an absent mode.
    const bool check = config.out_of_range_mode != OutOfRangeMode::Clamp;

    if (!config.scalar_map.empty()) {
        return convert_elements(src, dst, config.scalar_map,
                                [mode, check](S x, T& out) { return float_to_float_element(x, out, mode, check); });
    }
    if constexpr (std::is_same_v<S, T>) {
        copy_bits(src, dst, n);
        return Ok{};
    } else if constexpr (!float_narrows<S, T>) {
        widen_run(src.data(), dst.data(), n);
        return Ok{};
    } else {
        if constexpr (std::is_same_v<S, double> && std::is_same_v<T, float>) {
            if (mode == RoundingMode::NearestEven) {
                const KernelResult outcome = try_f64_to_f32_nearest(src.first(n), dst.first(n), check);
                if (!outcome.ok()) return outcome.error();
                if (outcome.value()) return Ok{};
            }
        }
        return narrow_run(src.data(), dst.data(), n, mode, check);
    }
}

}  // namespace quellon
