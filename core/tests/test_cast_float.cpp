#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "cast_float.h"

namespace quellon {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Values are written as doubles and must be exact in every tested type.
template <class F>
F make(double v) {
    if constexpr (std::is_same_v<F, Float16>) {
        return float32_to_float16(static_cast<float>(v));
    } else {
        return static_cast<F>(v);
    }
}

template <class F>
double widen(F v) {
    if constexpr (std::is_same_v<F, Float16>) {
        return float16_to_float64(v);
    } else {
        return static_cast<double>(v);
    }
}

// Equal as values, NaN equal to NaN, and zeros of the same sign.
::testing::AssertionResult same_value(double got, double want) {
    if (std::isnan(want) ? std::isnan(got) : (got == want && std::signbit(got) == std::signbit(want))) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "got " << got << (std::signbit(got) ? " (neg)" : "") << ", want " << want;
}

template <class F>
class CastFloatTest : public ::testing::Test {};

using FloatTypes = ::testing::Types<Float16, float, double>;
TYPED_TEST_SUITE(CastFloatTest, FloatTypes);

constexpr auto kEven = RoundingMode::NearestEven;
constexpr auto kZero = RoundingMode::TowardsZero;
constexpr auto kPos = RoundingMode::TowardsPositive;
constexpr auto kNeg = RoundingMode::TowardsNegative;
constexpr auto kAway = RoundingMode::NearestAway;
constexpr RoundingMode kAllModes[] = {kEven, kZero, kPos, kNeg, kAway};

TYPED_TEST(CastFloatTest, RoundWithModeTable) {
    using F = TypeParam;
    struct Case {
        double x;
        RoundingMode mode;
        double want;
    };
    const Case cases[] = {
        {2.5, kEven, 2},    {3.5, kEven, 4},    {-2.5, kEven, -2},  {0.5, kEven, 0},     {-0.5, kEven, -0.0},
        {-0.375, kEven, -0.0}, {1.75, kEven, 2},
        {2.5, kAway, 3},    {-2.5, kAway, -3},  {0.5, kAway, 1},    {-0.5, kAway, -1},   {2.375, kAway, 2},
        {-0.25, kAway, -0.0}, {1.5, kAway, 2},  {-1.5, kAway, -2},
        {2.75, kZero, 2},   {-2.75, kZero, -2}, {-0.75, kZero, -0.0},
        {-2.25, kPos, -2},  {2.25, kPos, 3},    {-0.75, kPos, -0.0},
        {-2.25, kNeg, -3},  {2.25, kNeg, 2},    {0.25, kNeg, 0},     {-0.25, kNeg, -1},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(same_value(widen(CastFloat<F>::round_with_mode(make<F>(c.x), c.mode)), c.want))
            << c.x << " mode " << static_cast<int>(c.mode);
    }
}

TYPED_TEST(CastFloatTest, RoundKeepsSpecialsAndIntegralValues) {
    using F = TypeParam;
    for (RoundingMode mode : kAllModes) {
        for (double v : {kInf, -kInf, 0.0, -0.0, 65504.0, -65504.0, 1024.0, 7.0, -3.0}) {
            EXPECT_TRUE(same_value(widen(CastFloat<F>::round_with_mode(make<F>(v), mode)), v)) << v;
        }
        EXPECT_TRUE(std::isnan(widen(CastFloat<F>::round_with_mode(make<F>(kNaN), mode))));
        EXPECT_TRUE(std::isnan(widen(CastFloat<F>::round_with_mode(make<F>(-kNaN), mode))));
    }
}

TYPED_TEST(CastFloatTest, RemEuclidTable) {
    using F = TypeParam;
    struct Case {
        double a, m, want;
    };
    const Case cases[] = {
        {-1, 256, 255},     {5, 256, 5},        {-256, 256, -0.0},   {-300, 256, 212},   {256, 256, 0},
        {-1, -256, 255},    {7, kInf, 7},       {-7, kInf, kInf},    {-7, -kInf, kInf},  {0.0, 3, 0.0},
        {-0.0, 3, -0.0},    {kInf, 256, kNaN},  {-kInf, 256, kNaN},  {3, 0, kNaN},       {kNaN, 5, kNaN},
        {5, kNaN, kNaN},    {-2.5, 2, 1.5},     {kInf, kInf, kNaN},  {-32, kInf, kInf},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(same_value(widen(CastFloat<F>::rem_euclid(make<F>(c.a), make<F>(c.m))), c.want))
            << c.a << " rem " << c.m;
    }
}

// Ties away from zero for every input, where floor(|x| + 0.5) would round
// the sum first and move the result.
TEST(CastFloatNearestAway, NoDoubleRoundingOfTheSum) {
    using F32 = CastFloat<float>;
    using F64 = CastFloat<double>;
    const float below_half_f = std::nextafter(0.5f, 0.0f);  // 0.49999997
    EXPECT_TRUE(same_value(F32::round_with_mode(below_half_f, kAway), 0.0));
    EXPECT_TRUE(same_value(F32::round_with_mode(-below_half_f, kAway), -0.0));
    EXPECT_EQ(F32::round_with_mode(8388609.0f, kAway), 8388609.0f);
    EXPECT_EQ(F32::round_with_mode(-8388609.0f, kAway), -8388609.0f);
    EXPECT_EQ(F32::round_with_mode(16777215.0f, kAway), 16777215.0f);
    EXPECT_EQ(F32::round_with_mode(8388607.5f, kAway), 8388608.0f);

    const double below_half_d = std::nextafter(0.5, 0.0);  // 0.49999999999999994
    EXPECT_TRUE(same_value(F64::round_with_mode(below_half_d, kAway), 0.0));
    EXPECT_TRUE(same_value(F64::round_with_mode(-below_half_d, kAway), -0.0));
    EXPECT_EQ(F64::round_with_mode(4503599627370497.0, kAway), 4503599627370497.0);
    EXPECT_EQ(F64::round_with_mode(-4503599627370497.0, kAway), -4503599627370497.0);
    EXPECT_EQ(F64::round_with_mode(9007199254740991.0, kAway), 9007199254740991.0);
    EXPECT_EQ(F64::round_with_mode(4503599627370495.5, kAway), 4503599627370496.0);

    const Float16 below_half_h = Float16::from_bits(0x37FF);  // 0.49975586
    EXPECT_EQ(CastFloat<Float16>::round_with_mode(below_half_h, kAway).bits, 0x0000);
}

// The binary32 result of rounding against an exact reference: the sum
// |x| + 0.5 and every integral value involved are exact in binary64.
double exact_reference(double x, RoundingMode mode) {
    switch (mode) {
        case kEven: {
            const double lower = std::floor(x);
            const double frac = x - lower;
            const double r = frac < 0.5 ? lower : frac > 0.5 ? lower + 1 : (std::fmod(lower, 2.0) == 0 ? lower : lower + 1);
            return std::copysign(r, x);
        }
        case kZero: return std::copysign(std::floor(std::fabs(x)), x);
        case kPos: return std::copysign(std::ceil(x), x);
        case kNeg: return std::copysign(std::floor(x), x);
        case kAway: return std::copysign(std::floor(std::fabs(x) + 0.5), x);
    }
    return x;
}

TEST(CastFloatSweep, Binary32AgreesWithExactReference) {
    std::mt19937 rng(1234);
    for (int i = 0; i < 400000; ++i) {
        const auto bits = static_cast<std::uint32_t>(rng());
        const float x = std::bit_cast<float>(bits);
        if (!std::isfinite(x)) continue;
        for (RoundingMode mode : kAllModes) {
            const double want = exact_reference(static_cast<double>(x), mode);
            ASSERT_TRUE(same_value(CastFloat<float>::round_with_mode(x, mode), want)) << std::hex << bits;
        }
    }
    // Dense over the region where the sum would lose a bit.
    for (float x = 8388608.0f; x < 8388608.0f + 4096.0f; x += 1.0f) {
        ASSERT_EQ(CastFloat<float>::round_with_mode(x, kAway), x);
    }
}

// All 65,536 binary16 values, every mode, against the exact reference.
TEST(CastFloatSweep, EveryBinary16Value) {
    for (std::uint32_t b = 0; b < (1u << 16); ++b) {
        const Float16 x = Float16::from_bits(static_cast<std::uint16_t>(b));
        if (x.is_nan()) continue;
        for (RoundingMode mode : kAllModes) {
            const double want = std::isinf(widen(x)) ? widen(x) : exact_reference(widen(x), mode);
            ASSERT_TRUE(same_value(widen(CastFloat<Float16>::round_with_mode(x, mode)), want))
                << std::hex << b << " mode " << static_cast<int>(mode);
        }
    }
}

TEST(CastFloatRemEuclid, SumRoundsInWorkingPrecision) {
    // -1 + 2^32 is not a binary32: it rounds up to the modulus itself.
    EXPECT_EQ(CastFloat<float>::rem_euclid(-1.0f, 4294967296.0f), 4294967296.0f);
    EXPECT_EQ(CastFloat<double>::rem_euclid(-1.0, 4294967296.0), 4294967295.0);
    // binary16: 4095 is exact in binary32 and rounds to 4096 on the way back.
    EXPECT_EQ(CastFloat<Float16>::rem_euclid(make<Float16>(-1), make<Float16>(4096)).bits, make<Float16>(4096).bits);
    EXPECT_EQ(CastFloat<Float16>::rem_euclid(make<Float16>(-1), make<Float16>(2048)).bits, make<Float16>(2047).bits);
}

}  // namespace
}  // namespace quellon
