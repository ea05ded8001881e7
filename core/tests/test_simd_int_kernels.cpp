#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "simd/cpu_features.h"
#include "simd/kernels.h"
#include "simd/tiers.h"

namespace quellon {
namespace {

std::uint8_t clamp_reference(std::int32_t v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

TEST(I32ToU8Clamp, MatchesTheScalarClampAtEveryLengthAndValue) {
    if (!cpu_features().avx2_tier) GTEST_SKIP() << "no AVX2 tier on this processor";
    std::mt19937 rng(7);
    const std::int32_t specials[] = {std::numeric_limits<std::int32_t>::min(), -32769, -32768, -256, -1, 0, 1,
                                     254, 255, 256, 32767, 32768, 65535, std::numeric_limits<std::int32_t>::max()};
    for (std::size_t n : {0u, 1u, 31u, 32u, 33u, 64u, 100u, 4099u}) {
        std::vector<std::int32_t> in(n);
        for (std::size_t i = 0; i < n; ++i) {
            in[i] = rng() % 3 == 0 ? specials[rng() % std::size(specials)] : static_cast<std::int32_t>(rng() % 600) - 150;
        }
        std::vector<std::uint8_t> out(n + 8, 0xAB);
        simd::avx2::i32_to_u8_clamp(in, std::span<std::uint8_t>(out.data(), n));
        for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(out[i], clamp_reference(in[i])) << "n=" << n << " i=" << i;
        for (std::size_t i = n; i < n + 8; ++i) ASSERT_EQ(out[i], 0xAB) << "wrote past the run";
    }
}

TEST(I32ToU8Clamp, EntryPointServesOnlyTheAvx2Tier) {
    const std::vector<std::int32_t> in{-5, 300, 7};
    std::vector<std::uint8_t> out(3, 9);
    const bool handled = try_i32_to_u8_clamp(in, out);
    EXPECT_EQ(handled, cpu_features().avx2_tier);
    EXPECT_EQ(out, handled ? (std::vector<std::uint8_t>{0, 255, 7}) : (std::vector<std::uint8_t>{9, 9, 9}));
}

}  // namespace
}  // namespace quellon
