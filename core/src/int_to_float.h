#pragma once

#include <algorithm>
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
#include "rounding_dispatch.h"
#include "straight_loops.h"

namespace quellon {

// Every value of S is a value of F, so no rounding mode can change a result.
template <IntegerElement S, FloatElement F>
inline constexpr bool int_fits_float = std::numeric_limits<S>::digits <= FloatFormat<F>::digits;

// One correct rounding to nearest, ties to even. The compiler converts
// uint64 values of 2^63 and above by halving with a sticky bit, which also
// rounds once. Every integer float32 cannot hold lies beyond binary16's
// range, so rounding through float32 is one rounding to binary16 as well.
template <FloatElement F, IntegerElement S>
F int_to_float_nearest(S v) {
    if constexpr (std::is_same_v<F, Float16>) {
        return float32_to_float16(static_cast<float>(v));
    } else {
        return static_cast<F>(v);
    }
}

// float64 targets are always rounded to nearest, ties to even.
template <IntegerElement S, FloatElement F>
inline constexpr bool int_to_float_ignores_mode = int_fits_float<S, F> || std::is_same_v<F, double>;

// The other modes step once from the nearest result, judged against v's
// nearest float64: exact for sources up to 2^53 in magnitude, rounded beyond,
// where a v whose float64 equals the float32 result counts as exact.
template <IntegerElement S, FloatElement F>
F int_to_float_element(S v, RoundingMode mode) {
    const F nearest = int_to_float_nearest<F>(v);
    if constexpr (int_to_float_ignores_mode<S, F>) {
        return nearest;
    } else {
        return apply_rounding_mode(nearest, static_cast<double>(v), mode);
    }
}

// binary16 targets go through the run conversion of float16_impls a block
// at a time; each element ends as int_to_float_element<S, Float16> would.
inline constexpr std::size_t kIntToFloat16Block = 256;

template <IntegerElement S>
void int_to_float16_block(const S* in, Float16* out, std::size_t m, RoundingMode mode) {
    float wide[kIntToFloat16Block] = {};  // zeroed: gcc cannot see the loop below fill what the run reads
    Float16 narrow[kIntToFloat16Block];
    for (std::size_t j = 0; j < m; ++j) wide[j] = static_cast<float>(in[j]);
    float32_to_float16_run(wide, narrow, m);
    if constexpr (!int_fits_float<S, Float16>) {
        if (mode != RoundingMode::NearestEven) {
            for (std::size_t j = 0; j < m; ++j) {
                narrow[j] = apply_rounding_mode(narrow[j], static_cast<double>(in[j]), mode);
            }
        }
    }
    // The whole block is read before any of it is written: the source may
    // be the destination itself.
    std::memcpy(out, narrow, m * sizeof(Float16));
}

template <IntegerElement S, FloatElement F>
CastResult convert_slice_int_to_float(std::span<const S> src, std::span<F> dst, const CastConfig<S, F>& config) {
    const std::size_t n = run_length(src, dst);
    const RoundingMode mode = config.rounding_mode;

    if (!config.scalar_map.empty()) {
        return convert_elements(src, dst, config.scalar_map, [mode](S v, F& out) -> std::optional<CastError> {
            out = int_to_float_element<S, F>(v, mode);
            return std::nullopt;
        });
    }

    const S* in = src.data();
    F* out = dst.data();
    if constexpr (std::is_same_v<F, Float16>) {
        for (std::size_t start = 0; start < n; start += kIntToFloat16Block) {
            int_to_float16_block(in + start, out + start, std::min(kIntToFloat16Block, n - start), mode);
        }
    } else if (int_to_float_ignores_mode<S, F> || mode == RoundingMode::NearestEven) {
        map_run(in, out, n, [](S v) { return static_cast<F>(v); });
    } else {
        with_rounding_mode(mode, [&](auto fixed) {
            map_run(in, out, n, [](S v) {
                return round_nearest_to_mode<decltype(fixed)::value>(static_cast<F>(v), static_cast<double>(v));
            });
        });
    }
    return Ok{};
}

}  // namespace quellon
