#pragma once

#include <cstdint>
#include <span>

#include "cast_error.h"
#include "modes.h"

namespace quellon {

// Outcome of offering a whole run to a vector kernel: true when the run was
// converted, false when no tier serves this processor (nothing written),
// or the error the tier found.
using KernelResult = Result<bool, CastError>;

// The run is min(src.size(), dst.size()) elements; callers pass equal
// lengths. A run offered with NearestAway is declined (false, nothing written).
KernelResult try_f32_to_u8_clamp(std::span<const float> src, std::span<std::uint8_t> dst, RoundingMode mode);
KernelResult try_f64_to_u8_clamp(std::span<const double> src, std::span<std::uint8_t> dst, RoundingMode mode);
KernelResult try_f64_to_i32_clamp(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode);
KernelResult try_f64_to_i32_check(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode);
// check: report the first finite value that overflowed to an infinity.
KernelResult try_f64_to_f32_nearest(std::span<const double> src, std::span<float> dst, bool check);
// Saturating int32 to uint8: true when converted, false (nothing written)
// on processors without the AVX2 tier.
bool try_i32_to_u8_clamp(std::span<const std::int32_t> src, std::span<std::uint8_t> dst);
// Clamping float32 to 16-bit targets on the AVX2 tier: false (nothing
// written) elsewhere and for NearestAway. A NaN fails with every element
// before it stored, as the element loop leaves them.
KernelResult try_f32_to_i16_clamp(std::span<const float> src, std::span<std::int16_t> dst, RoundingMode mode);
KernelResult try_f32_to_u16_clamp(std::span<const float> src, std::span<std::uint16_t> dst, RoundingMode mode);

}  // namespace quellon
