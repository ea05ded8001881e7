#pragma once

#include <cstdint>
#include <span>

#include "cast_error.h"
#include "modes.h"

// The tier functions behind the kernel entry points. Only the entry points
// (and the tests, to run every tier the processor can) call them; an AVX or
// AVX2 tier must not be entered on a processor without those features.
//
// Each converts min(src.size(), dst.size()) elements. NearestAway, which
// no vector round instruction has, is converted element by element.

namespace quellon::simd::avx2 {
CastResult f32_to_u8_clamp(std::span<const float> src, std::span<std::uint8_t> dst, RoundingMode mode);
CastResult f64_to_u8_clamp(std::span<const double> src, std::span<std::uint8_t> dst, RoundingMode mode);
CastResult f64_to_i32_clamp(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode);
CastResult f64_to_i32_check(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode);
CastResult f64_to_f32_nearest(std::span<const double> src, std::span<float> dst, bool check);
// Saturating int32 to uint8; never fails. Only this tier has it: the
// family's own loop serves the other processors.
void i32_to_u8_clamp(std::span<const std::int32_t> src, std::span<std::uint8_t> dst);
// Clamping float32 to 16-bit targets, AVX2 tier only as well. A NaN fails
// with everything before it stored, as in the element loop.
CastResult f32_to_i16_clamp(std::span<const float> src, std::span<std::int16_t> dst, RoundingMode mode);
CastResult f32_to_u16_clamp(std::span<const float> src, std::span<std::uint16_t> dst, RoundingMode mode);
}  // namespace quellon::simd::avx2

namespace quellon::simd::avx {
CastResult f32_to_u8_clamp(std::span<const float> src, std::span<std::uint8_t> dst, RoundingMode mode);
CastResult f64_to_u8_clamp(std::span<const double> src, std::span<std::uint8_t> dst, RoundingMode mode);
CastResult f64_to_i32_clamp(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode);
CastResult f64_to_i32_check(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode);
CastResult f64_to_f32_nearest(std::span<const double> src, std::span<float> dst, bool check);
}  // namespace quellon::simd::avx

namespace quellon::simd::generic {
CastResult f32_to_u8_clamp(std::span<const float> src, std::span<std::uint8_t> dst, RoundingMode mode);
CastResult f64_to_u8_clamp(std::span<const double> src, std::span<std::uint8_t> dst, RoundingMode mode);
CastResult f64_to_i32_clamp(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode);
}  // namespace quellon::simd::generic
