#include "float16_impls.h"

#include <bit>
#include <cmath>
#include <cstdint>

#include "cast_float.h"
#include "simd/cpu_features.h"

namespace quellon {

namespace float16_route {

namespace {

constexpr std::uint32_t kF32SignMask = 0x80000000u;
constexpr std::uint32_t kF32AbsMask = 0x7FFFFFFFu;
constexpr std::uint32_t kF32Inf = 0x7F800000u;
constexpr std::uint32_t kF32Quiet = 0x00400000u;
constexpr int kF32FracBits = 23;
constexpr int kF16FracBits = 10;
constexpr int kDroppedBits = kF32FracBits - kF16FracBits;  // 13
constexpr std::uint16_t kF16Inf = 0x7C00u;
constexpr std::uint16_t kF16Quiet = 0x0200u;
constexpr std::uint16_t kF16FracMask = 0x03FFu;
// Exponent bias difference (127 - 15) placed in the binary32 exponent field.
constexpr std::uint32_t kRebias = (127u - 15u) << kF32FracBits;
// 65520 is halfway between 65504 and the next binade: it and everything
// above rounds to infinity.
constexpr std::uint32_t kF32Overflow = 0x477FF000u;
constexpr std::uint32_t kF32MinNormalF16 = 0x38800000u;  // 2^-14
constexpr std::uint32_t kF32HalfMinSub = 0x33000000u;    // 2^-25, rounds to zero (tie to even)

// Rounds `value >> shift` to nearest, ties to even (shift >= 1).
constexpr std::uint32_t shift_round_even(std::uint32_t value, int shift) {
    const std::uint32_t half = 1u << (shift - 1);
    const std::uint32_t rest = value & ((half << 1) - 1);
    const std::uint32_t q = value >> shift;
    return q + ((rest > half || (rest == half && (q & 1u))) ? 1u : 0u);
}

}  // namespace

float to_float32_soft(Float16 h) {
    const std::uint32_t sign = static_cast<std::uint32_t>(h.bits & 0x8000u) << 16;
    const std::uint32_t exp = (h.bits >> kF16FracBits) & 0x1Fu;
    const std::uint32_t frac = h.bits & kF16FracMask;
    std::uint32_t out;
    if (exp == 0x1F) {
        out = frac == 0 ? sign | kF32Inf : sign | kF32Inf | kF32Quiet | (frac << kDroppedBits);
    } else if (exp != 0) {
        out = sign | ((((exp << kF16FracBits) | frac) << kDroppedBits) + kRebias);
    } else if (frac == 0) {
        out = sign;
    } else {
        // Subnormal frac * 2^-24: move the leading one up to the implicit bit.
        const int lead = std::bit_width(frac) - 1;  // 0..9
        const std::uint32_t biased_exp = static_cast<std::uint32_t>(lead + 127 - 24);
        out = sign | (biased_exp << kF32FracBits) | ((frac << (kF32FracBits - lead)) & 0x7FFFFFu);
    }
    return std::bit_cast<float>(out);
}

Float16 from_float32_soft(float f) {
    const std::uint32_t x = std::bit_cast<std::uint32_t>(f);
    const auto sign = static_cast<std::uint16_t>((x & kF32SignMask) >> 16);
    const std::uint32_t a = x & kF32AbsMask;
    std::uint32_t out;
    if (a > kF32Inf) {
        out = kF16Inf | kF16Quiet | ((a >> kDroppedBits) & kF16FracMask);
    } else if (a >= kF32Overflow) {
        out = kF16Inf;
    } else if (a >= kF32MinNormalF16) {
        // A carry out of the fraction steps into the exponent, as it should.
        out = shift_round_even(a - kRebias, kDroppedBits);
    } else if (a <= kF32HalfMinSub) {
        out = 0;
    } else {
        // Subnormal result in units of 2^-24: significand * 2^(exp - 150 + 24).
        const std::uint32_t exp = a >> kF32FracBits;  // 102..112
        const std::uint32_t significand = (a & 0x7FFFFFu) | 0x800000u;
        out = shift_round_even(significand, static_cast<int>(126 - exp));
    }
    return Float16::from_bits(static_cast<std::uint16_t>(sign | out));
}

bool f16c_available() { return cpu_features().f16c; }

}  // namespace float16_route

namespace {

struct Float16Route {
    float (*to_float32)(Float16);
    Float16 (*from_float32)(float);
    void (*to_float32_run)(const Float16*, float*, std::size_t);
    void (*from_float32_run)(const float*, Float16*, std::size_t);
};

void to_float32_run_soft(const Float16* src, float* dst, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) dst[i] = float16_route::to_float32_soft(src[i]);
}

void from_float32_run_soft(const float* src, Float16* dst, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) dst[i] = float16_route::from_float32_soft(src[i]);
}

const Float16Route& route() {
    static const Float16Route chosen =
        float16_route::f16c_available()
            ? Float16Route{float16_route::to_float32_f16c, float16_route::from_float32_f16c,
                           float16_route::to_float32_run_f16c, float16_route::from_float32_run_f16c}
            : Float16Route{float16_route::to_float32_soft, float16_route::from_float32_soft, to_float32_run_soft,
                           from_float32_run_soft};
    return chosen;
}

}  // namespace

float float16_to_float32(Float16 h) { return route().to_float32(h); }
Float16 float32_to_float16(float f) { return route().from_float32(f); }

void float16_to_float32_run(const Float16* src, float* dst, std::size_t n) { route().to_float32_run(src, dst, n); }
void float32_to_float16_run(const float* src, Float16* dst, std::size_t n) {
    route().from_float32_run(src, dst, n);
}

Float16 float16_add(Float16 a, Float16 b) { return float32_to_float16(float16_to_float32(a) + float16_to_float32(b)); }
Float16 float16_sub(Float16 a, Float16 b) { return float32_to_float16(float16_to_float32(a) - float16_to_float32(b)); }
Float16 float16_abs(Float16 a) { return float32_to_float16(std::fabs(float16_to_float32(a))); }

Float16 float16_round_with_mode(Float16 x, RoundingMode mode) {
    return float32_to_float16(CastFloat<float>::round_with_mode(float16_to_float32(x), mode));
}

Float16 float16_rem_euclid(Float16 a, Float16 m) {
    return float32_to_float16(CastFloat<float>::rem_euclid(float16_to_float32(a), float16_to_float32(m)));
}

}  // namespace quellon
