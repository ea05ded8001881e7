#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "simd/cpu_features.h"
#include "simd/kernels.h"
#include "simd/tiers.h"

namespace quellon {
namespace {

// Leaf 1 ECX: SSE3, SSSE3, FMA, SSE4.1, SSE4.2, POPCNT, XSAVE, OSXSAVE, AVX, F16C.
constexpr std::uint32_t kSse3 = 1u << 0, kSsse3 = 1u << 9, kFma = 1u << 12, kSse41 = 1u << 19, kSse42 = 1u << 20,
                        kPopcnt = 1u << 23, kXsave = 1u << 26, kOsxsave = 1u << 27, kAvx = 1u << 28,
                        kF16c = 1u << 29;
// Leaf 7 EBX: BMI1, AVX2, BMI2. Leaf 0x80000001 ECX: LZCNT.
constexpr std::uint32_t kBmi1 = 1u << 3, kAvx2 = 1u << 5, kBmi2 = 1u << 8, kLzcnt = 1u << 5;

constexpr CpuidWords kFull{kSse3 | kSsse3 | kFma | kSse41 | kSse42 | kPopcnt | kXsave | kOsxsave | kAvx | kF16c,
                           kBmi1 | kAvx2 | kBmi2, kLzcnt, 0x7};

TEST(CpuFeatures, DecodesTierFromProcessorAndOsAnswers) {
    struct Case {
        const char* what;
        CpuidWords words;
        KernelTier tier;
        bool f16c;
    };
    auto without = [](std::uint32_t leaf1, std::uint32_t leaf7, std::uint32_t ext) {
        CpuidWords w = kFull;
        w.leaf1_ecx &= ~leaf1;
        w.leaf7_ebx &= ~leaf7;
        w.ext1_ecx &= ~ext;
        return w;
    };
    CpuidWords no_avx_state = kFull;
    no_avx_state.xcr0 = 0x3;  // OS saves SSE state only
    const Case cases[] = {
        {"everything", kFull, KernelTier::Avx2, true},
        {"no AVX2", without(0, kAvx2, 0), KernelTier::Avx, true},
        {"no BMI1", without(0, kBmi1, 0), KernelTier::Avx, true},
        {"no BMI2", without(0, kBmi2, 0), KernelTier::Avx, true},
        {"no FMA", without(kFma, 0, 0), KernelTier::Avx, true},
        {"no LZCNT", without(0, 0, kLzcnt), KernelTier::Avx, true},
        {"no POPCNT", without(kPopcnt, 0, 0), KernelTier::Avx, true},
        {"no SSE4.2", without(kSse42, 0, 0), KernelTier::Avx, true},
        {"no SSSE3", without(kSsse3, 0, 0), KernelTier::Avx, true},
        {"no F16C", without(kF16c, 0, 0), KernelTier::Avx2, false},
        {"no AVX", without(kAvx, 0, 0), KernelTier::Generic, false},
        {"no OSXSAVE", without(kOsxsave, 0, 0), KernelTier::Generic, false},
        {"no XSAVE", without(kXsave, 0, 0), KernelTier::Generic, false},
        {"AVX state not enabled", no_avx_state, KernelTier::Generic, false},
        {"nothing", CpuidWords{}, KernelTier::Generic, false},
    };
    for (const Case& c : cases) {
        const CpuFeatures f = decode_cpu_features(c.words);
        EXPECT_EQ(select_kernel_tier(f), c.tier) << c.what;
        EXPECT_EQ(f.f16c, c.f16c) << c.what;
    }
}

TEST(CpuFeatures, AnswerIsCached) {
    const CpuFeatures& a = cpu_features();
    const CpuFeatures& b = cpu_features();
    EXPECT_EQ(&a, &b);
    // The AVX2 tier implies usable AVX, and F16C is only counted with it.
    EXPECT_TRUE(!a.avx2_tier || a.avx);
    EXPECT_TRUE(!a.f16c || a.avx);
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A source with a value at every rounding case, long enough for vector blocks.
std::vector<double> sample(std::size_t n) {
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<double>(i % 300) * 0.75 - 20.5;
    return v;
}

TEST(KernelEntryPoints, RunTheTierChosenForThisProcessor) {
    const KernelTier tier = select_kernel_tier(cpu_features());
    const std::vector<double> src = sample(103);
    const std::vector<float> src32(src.begin(), src.end());
    for (RoundingMode mode : {RoundingMode::NearestEven, RoundingMode::TowardsZero, RoundingMode::TowardsPositive,
                              RoundingMode::TowardsNegative}) {
        std::vector<std::uint8_t> got(src.size()), want(src.size());
        const KernelResult r = try_f32_to_u8_clamp(src32, got, mode);
        ASSERT_TRUE(r.ok());
        EXPECT_TRUE(r.value());
        ASSERT_TRUE(simd::generic::f32_to_u8_clamp(src32, want, mode).ok());
        EXPECT_EQ(got, want);

        ASSERT_TRUE(try_f64_to_u8_clamp(src, got, mode).ok());
        ASSERT_TRUE(simd::generic::f64_to_u8_clamp(src, want, mode).ok());
        EXPECT_EQ(got, want);

        std::vector<std::int32_t> got32(src.size()), want32(src.size());
        ASSERT_TRUE(try_f64_to_i32_clamp(src, got32, mode).ok());
        ASSERT_TRUE(simd::generic::f64_to_i32_clamp(src, want32, mode).ok());
        EXPECT_EQ(got32, want32);

        std::vector<std::int32_t> checked(src.size(), -1);
        const KernelResult c = try_f64_to_i32_check(src, checked, mode);
        ASSERT_TRUE(c.ok());
        // Without usable AVX there is no checking kernel: declined, untouched.
        EXPECT_EQ(c.value(), tier != KernelTier::Generic);
        EXPECT_EQ(checked, c.value() ? want32 : std::vector<std::int32_t>(src.size(), -1));
    }
}

TEST(KernelEntryPoints, PassTheTierErrorOnUnchanged) {
    std::vector<double> src = sample(40);
    src[21] = -kNaN;
    std::vector<std::uint8_t> out(src.size());
    const KernelResult r = try_f64_to_u8_clamp(src, out, RoundingMode::NearestEven);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind, CastError::Kind::NotCastable);
    EXPECT_TRUE(std::isnan(r.error().value));
    EXPECT_TRUE(std::signbit(r.error().value));

    if (select_kernel_tier(cpu_features()) == KernelTier::Generic) GTEST_SKIP() << "no float64-to-float32 kernel";
    const std::vector<double> wide = {1.0, 2.0, -1e39};
    std::vector<float> narrow(wide.size());
    const KernelResult f = try_f64_to_f32_nearest(wide, narrow, true);
    ASSERT_FALSE(f.ok());
    EXPECT_EQ(f.error(), CastError::out_of_range(-1e39, -std::numeric_limits<float>::max(),
                                                 std::numeric_limits<float>::max()));
    const KernelResult unchecked = try_f64_to_f32_nearest(wide, narrow, false);
    ASSERT_TRUE(unchecked.ok());
    EXPECT_TRUE(unchecked.value());
    EXPECT_EQ(narrow, (std::vector<float>{1.0f, 2.0f, -INFINITY}));
}

// No kernel rounds ties away from zero: such a run is declined and the
// destination left as it was, even when a source element would fail.
TEST(KernelEntryPoints, DeclineNearestAwayWithoutWriting) {
    const std::vector<double> src = {0.5, 1.5, 2.5, kNaN, 7.0};
    const std::vector<float> src32(src.begin(), src.end());
    std::vector<std::uint8_t> bytes(src.size(), 9);
    std::vector<std::int32_t> ints(src.size(), 9);
    const RoundingMode away = RoundingMode::NearestAway;
    for (const KernelResult& r :
         {try_f32_to_u8_clamp(src32, bytes, away), try_f64_to_u8_clamp(src, bytes, away),
          try_f64_to_i32_clamp(src, ints, away), try_f64_to_i32_check(src, ints, away)}) {
        ASSERT_TRUE(r.ok());
        EXPECT_FALSE(r.value());
    }
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(src.size(), 9));
    EXPECT_EQ(ints, std::vector<std::int32_t>(src.size(), 9));
}

// A destination shorter than the source is written only as far as it goes.
TEST(KernelEntryPoints, ShorterDestinationIsNeverOverrun) {
    const std::vector<double> src = sample(50);
    const std::vector<float> src32(src.begin(), src.end());
    constexpr std::size_t kShort = 21;
    std::vector<std::uint8_t> bytes(src.size(), 0xEE);
    ASSERT_TRUE(try_f32_to_u8_clamp(src32, std::span(bytes).first(kShort), RoundingMode::NearestEven).ok());
    ASSERT_TRUE(try_f64_to_u8_clamp(src, std::span(bytes).first(kShort), RoundingMode::NearestEven).ok());
    std::vector<std::int32_t> ints(src.size(), -7);
    ASSERT_TRUE(try_f64_to_i32_clamp(src, std::span(ints).first(kShort), RoundingMode::NearestEven).ok());
    ASSERT_TRUE(try_f64_to_i32_check(src, std::span(ints).first(kShort), RoundingMode::NearestEven).ok());
    std::vector<float> floats(src.size(), -12345.0f);
    ASSERT_TRUE(try_f64_to_f32_nearest(src, std::span(floats).first(kShort), true).ok());
    for (std::size_t i = 0; i < src.size(); ++i) {
        if (i < kShort) {
            EXPECT_EQ(ints[i], static_cast<std::int32_t>(std::rint(src[i]))) << i;
            EXPECT_EQ(floats[i] == -12345.0f, select_kernel_tier(cpu_features()) == KernelTier::Generic) << i;
        } else {
            EXPECT_EQ(bytes[i], 0xEE) << i;
            EXPECT_EQ(ints[i], -7) << i;
            EXPECT_EQ(floats[i], -12345.0f) << i;
        }
    }
}

}  // namespace
}  // namespace quellon
