#include "simd/scalar_steps.h"
#include "simd/tiers.h"

namespace quellon::simd::generic {

namespace {

template <class T, class F>
CastResult clamp_run(std::span<const F> src, std::span<T> dst, RoundingMode mode) {
    return run_all_scalar(src, dst, [mode](F v, T& out) { return clamp_one(v, mode, out); });
}

}  // namespace

CastResult f32_to_u8_clamp(std::span<const float> src, std::span<std::uint8_t> dst, RoundingMode mode) {
    return clamp_run(src, dst, mode);
}

CastResult f64_to_u8_clamp(std::span<const double> src, std::span<std::uint8_t> dst, RoundingMode mode) {
    return clamp_run(src, dst, mode);
}

CastResult f64_to_i32_clamp(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode) {
    return clamp_run(src, dst, mode);
}

}  // namespace quellon::simd::generic
