#pragma once

#include <bit>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "element_types.h"

namespace quellon {

// Bit layout of each float element type. binary16 has no numeric_limits,
// so its significand width (11 bits, the implicit one included) is given here.
template <FloatElement F>
struct FloatFormat {
    using Bits = std::conditional_t<sizeof(F) == 2, std::uint16_t,
                                    std::conditional_t<sizeof(F) == 4, std::uint32_t, std::uint64_t>>;

    static constexpr int digits = std::is_same_v<F, Float16> ? 11 : std::numeric_limits<F>::digits;
    static constexpr int width = 8 * static_cast<int>(sizeof(F));
    static constexpr Bits sign_mask = static_cast<Bits>(Bits{1} << (width - 1));
    static constexpr Bits fraction_mask = static_cast<Bits>((Bits{1} << (digits - 1)) - 1);
    static constexpr Bits infinity = static_cast<Bits>(~sign_mask & ~fraction_mask);
    static constexpr Bits max_finite = infinity - 1;
};

template <FloatElement F>
constexpr typename FloatFormat<F>::Bits float_to_bits(F x) {
    return std::bit_cast<typename FloatFormat<F>::Bits>(x);
}

template <FloatElement F>
constexpr F float_from_bits(typename FloatFormat<F>::Bits bits) {
    return std::bit_cast<F>(bits);
}

template <FloatElement F>
constexpr F max_finite() {
    return float_from_bits<F>(FloatFormat<F>::max_finite);
}

template <FloatElement F>
constexpr F flip_sign(F x) {
    return float_from_bits<F>(static_cast<typename FloatFormat<F>::Bits>(float_to_bits(x) ^ FloatFormat<F>::sign_mask));
}

// The adjacent value towards +infinity. Both zeros step to the smallest
// positive subnormal; -infinity steps to the most negative finite value.
// Not defined for NaN or +infinity.
template <FloatElement F>
constexpr F next_up(F x) {
    using Bits = typename FloatFormat<F>::Bits;
    const Bits bits = float_to_bits(x);
    if ((bits & ~FloatFormat<F>::sign_mask) == 0) return float_from_bits<F>(1);
    return float_from_bits<F>(static_cast<Bits>((bits & FloatFormat<F>::sign_mask) ? bits - 1 : bits + 1));
}

// The adjacent value towards -infinity: the mirror image of next_up.
// Not defined for NaN or -infinity.
template <FloatElement F>
constexpr F next_down(F x) {
    return flip_sign(next_up(flip_sign(x)));
}

static_assert(FloatFormat<Float16>::max_finite == 0x7BFF && FloatFormat<Float16>::infinity == 0x7C00);
static_assert(max_finite<float>() == std::numeric_limits<float>::max());
static_assert(max_finite<double>() == std::numeric_limits<double>::max());

}  // namespace quellon
