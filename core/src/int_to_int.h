#pragma once

#include <limits>
#include <span>
#include <utility>

#include "cast_config.h"
#include "element_loop.h"
#include "simd/kernels.h"
#include "straight_loops.h"

namespace quellon {

// The source values that T holds unchanged: [max(min S, min T), min(max S, max T)],
// held as S values (both bounds lie in S and in T).
template <IntegerElement S, IntegerElement T>
struct IntRange {
    static constexpr S lo = std::cmp_less(std::numeric_limits<S>::min(), std::numeric_limits<T>::min())
                                ? static_cast<S>(std::numeric_limits<T>::min())
                                : std::numeric_limits<S>::min();
    static constexpr S hi = std::cmp_greater(std::numeric_limits<S>::max(), std::numeric_limits<T>::max())
                                ? static_cast<S>(std::numeric_limits<T>::max())
                                : std::numeric_limits<S>::max();
    // T contains every value of S: no range test exists.
    static constexpr bool exact = lo == std::numeric_limits<S>::min() && hi == std::numeric_limits<S>::max();

    static constexpr bool contains(S v) { return v >= lo && v <= hi; }

    // Below lo is only possible when lo is T's minimum, above hi only when
    // hi is T's maximum, so clamping to [lo, hi] saturates to T's range.
    static constexpr T clamp(S v) { return static_cast<T>(v < lo ? lo : (v > hi ? hi : v)); }

    static CastError error(S v) {
        return CastError::out_of_range(static_cast<double>(v), static_cast<double>(lo), static_cast<double>(hi));
    }
};

// Integer conversion is modular since C++20: narrowing keeps the low bits,
// widening sign- or zero-extends by the source's signedness.
template <IntegerElement S, IntegerElement T>
constexpr T wrap_int(S v) {
    return static_cast<T>(v);
}

template <IntegerElement S, IntegerElement T>
CastResult convert_slice_int_to_int(std::span<const S> src, std::span<T> dst, const CastConfig<S, T>& config) {
    using Range = IntRange<S, T>;
    const std::size_t n = run_length(src, dst);
    const OptionalOutOfRange mode = config.out_of_range_mode;

    if (!config.scalar_map.empty()) {
        return convert_elements(src, dst, config.scalar_map, [&](S v, T& out) -> std::optional<CastError> {
            if (Range::contains(v)) {
                out = static_cast<T>(v);
            } else if (!mode) {
                return Range::error(v);
            } else {
                out = *mode == OutOfRangeMode::Clamp ? Range::clamp(v) : wrap_int<S, T>(v);
            }
            return std::nullopt;
        });
    }

    const S* in = src.data();
    T* out = dst.data();
    const auto convert = [](S v) { return static_cast<T>(v); };
    if constexpr (std::is_same_v<S, T>) {
        copy_bits(src, dst, n);
    } else if constexpr (Range::exact) {
        map_run(in, out, n, convert);
    } else if (!mode) {
        const std::size_t failed = map_run_until(in, out, n, [](S v) { return !Range::contains(v); }, convert);
        if (failed < n) return Range::error(in[failed]);
    } else if (*mode == OutOfRangeMode::Clamp) {
        if constexpr (std::is_same_v<S, std::int32_t> && std::is_same_v<T, std::uint8_t>) {
            if (try_i32_to_u8_clamp(src.first(n), dst.first(n))) return Ok{};
        }
        map_run(in, out, n, [](S v) { return Range::clamp(v); });
    } else if constexpr (sizeof(S) == sizeof(T)) {
        copy_bits(src, dst, n);
    } else {
        map_run(in, out, n, [](S v) { return wrap_int<S, T>(v); });
    }
    return Ok{};
}

}  // namespace quellon
