#pragma once

#include <cstdint>

namespace quellon {

// An IEEE 754 binary16 value held as its bit pattern: arithmetic on it is
// carried out in binary32 (see float16_impls.h), never natively.
struct Float16 {
    std::uint16_t bits;

    static constexpr Float16 from_bits(std::uint16_t b) { return Float16{b}; }

    constexpr bool is_nan() const { return (bits & 0x7C00u) == 0x7C00u && (bits & 0x03FFu) != 0; }
    constexpr bool is_inf() const { return (bits & 0x7FFFu) == 0x7C00u; }
    constexpr bool is_zero() const { return (bits & 0x7FFFu) == 0; }
    constexpr bool sign() const { return (bits & 0x8000u) != 0; }
};

static_assert(sizeof(Float16) == 2 && alignof(Float16) == 2);

// The largest finite binary16, pattern 0x7BFF.
inline constexpr float kFloat16Max = 65504.0f;

// IEEE equality: NaN equals nothing, +0 equals -0, otherwise equal patterns.
constexpr bool ieee_equal(Float16 a, Float16 b) {
    if (a.is_nan() || b.is_nan()) return false;
    return a.bits == b.bits || (a.is_zero() && b.is_zero());
}

}  // namespace quellon
