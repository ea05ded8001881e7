#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "float_to_int.h"
#include "simd/cpu_features.h"
#include "simd/kernels.h"
#include "simd/tiers.h"

namespace quellon {
namespace {

constexpr RoundingMode kVectorModes[] = {RoundingMode::NearestEven, RoundingMode::TowardsZero,
                                         RoundingMode::TowardsPositive, RoundingMode::TowardsNegative};

// Values around every rounding and clamping edge of both 16-bit targets.
std::vector<float> edge_values() {
    const float inf = std::numeric_limits<float>::infinity();
    return {0.0f,      -0.0f,     0.3f,     -0.3f,     0.5f,     -0.5f,      1.5f,      -1.5f,      2.5f,
            -2.5f,     254.5f,    255.5f,   -32768.5f, -32769.f, -32767.5f,  32766.5f,  32767.5f,   32768.f,
            65534.5f,  65535.5f,  65536.f,  1e9f,      -1e9f,    inf,        -inf,      1e-45f,     -1e-45f,
            8388609.f, -8388609.f, 1e38f,   -1e38f,    0.49999997f, -0.49999997f, 16777217.f, -65535.5f};
}

template <class T>
using KernelFn = CastResult (*)(std::span<const float>, std::span<T>, RoundingMode);

// The family's own clamped element step is the reference.
template <class T>
std::vector<T> reference(const std::vector<float>& in, RoundingMode mode) {
    const auto bounds = FloatIntBounds<float, T>::make();
    std::vector<T> out(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        EXPECT_FALSE(float_to_int_clamped(in[i], out[i], mode, bounds).has_value());
    }
    return out;
}

template <class T>
void check_clean_runs(KernelFn<T> kernel) {
    std::mt19937 rng(11);
    const std::vector<float> edges = edge_values();
    std::uniform_real_distribution<float> wide(-80000.0f, 80000.0f);
    for (RoundingMode mode : kVectorModes) {
        for (std::size_t n : {0u, 1u, 31u, 32u, 33u, 64u, 95u, 1000u}) {
            std::vector<float> in(n);
            for (float& v : in) v = rng() % 2 ? edges[rng() % edges.size()] : wide(rng);
            std::vector<T> out(n + 4, T{0x5A});
            ASSERT_TRUE(kernel(in, std::span<T>(out.data(), n), mode).ok());
            const std::vector<T> want = reference<T>(in, mode);
            for (std::size_t i = 0; i < n; ++i) {
                ASSERT_EQ(out[i], want[i]) << "n=" << n << " i=" << i << " value=" << in[i]
                                           << " mode=" << static_cast<int>(mode);
            }
            for (std::size_t i = n; i < n + 4; ++i) ASSERT_EQ(out[i], T{0x5A}) << "wrote past the run";
        }
    }
}

// A NaN fails with every element before it stored and none after it, as the
// element loop leaves them.
template <class T>
void check_nan_everywhere(KernelFn<T> kernel) {
    constexpr std::size_t n = 70;
    std::vector<float> in(n);
    for (std::size_t i = 0; i < n; ++i) in[i] = static_cast<float>(i) * 1000.5f - 20000.0f;
    const std::vector<T> want = reference<T>(in, RoundingMode::NearestEven);
    for (std::size_t at = 0; at < n; ++at) {
        std::vector<float> run = in;
        run[at] = std::numeric_limits<float>::quiet_NaN();
        std::vector<T> out(n, T{0x5A});
        CastResult result = kernel(run, out, RoundingMode::NearestEven);
        ASSERT_FALSE(result.ok()) << "NaN at " << at;
        EXPECT_EQ(result.error().message(), "Cannot cast NaN to integer type without scalar_map");
        for (std::size_t i = 0; i < n; ++i) {
            ASSERT_EQ(out[i], i < at ? want[i] : T{0x5A}) << "NaN at " << at << ", element " << i;
        }
    }
}

class F32To16BitClamp : public ::testing::Test {
protected:
    void SetUp() override {
        if (!cpu_features().avx2_tier) GTEST_SKIP() << "no AVX2 tier on this processor";
    }
};

TEST_F(F32To16BitClamp, Int16MatchesTheElementStep) { check_clean_runs<std::int16_t>(simd::avx2::f32_to_i16_clamp); }
TEST_F(F32To16BitClamp, Uint16MatchesTheElementStep) { check_clean_runs<std::uint16_t>(simd::avx2::f32_to_u16_clamp); }
TEST_F(F32To16BitClamp, Int16StoresUpToTheNaN) { check_nan_everywhere<std::int16_t>(simd::avx2::f32_to_i16_clamp); }
TEST_F(F32To16BitClamp, Uint16StoresUpToTheNaN) { check_nan_everywhere<std::uint16_t>(simd::avx2::f32_to_u16_clamp); }

TEST(F32To16BitClampEntry, ServesOnlyTheAvx2TierAndDeclinesNearestAway) {
    const std::vector<float> in{-40000.5f, 2.5f, 70000.0f};
    std::vector<std::int16_t> out(3, 9);
    KernelResult away = try_f32_to_i16_clamp(in, out, RoundingMode::NearestAway);
    ASSERT_TRUE(away.ok());
    EXPECT_FALSE(away.value());
    EXPECT_EQ(out, (std::vector<std::int16_t>{9, 9, 9}));

    KernelResult even = try_f32_to_i16_clamp(in, out, RoundingMode::NearestEven);
    ASSERT_TRUE(even.ok());
    EXPECT_EQ(even.value(), cpu_features().avx2_tier);
    EXPECT_EQ(out, even.value() ? (std::vector<std::int16_t>{-32768, 2, 32767}) : (std::vector<std::int16_t>{9, 9, 9}));

    std::vector<std::uint16_t> out16(3, 9);
    KernelResult up = try_f32_to_u16_clamp(in, out16, RoundingMode::TowardsPositive);
    ASSERT_TRUE(up.ok());
    EXPECT_EQ(up.value(), cpu_features().avx2_tier);
    EXPECT_EQ(out16, up.value() ? (std::vector<std::uint16_t>{0, 3, 65535}) : (std::vector<std::uint16_t>{9, 9, 9}));
}

}  // namespace
}  // namespace quellon
