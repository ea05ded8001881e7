#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "float16_impls.h"

namespace quellon {
namespace {

// Every binary32 pattern, narrowed by the F16C route (whole-vector runs) and
// by the software route; the two must agree bit for bit.
TEST(Float16Exhaustive, EveryBinary32PatternNarrowsAlikeOnBothRoutes) {
    if (!float16_route::f16c_available()) GTEST_SKIP() << "processor lacks F16C";
    constexpr std::uint64_t kChunk = 1u << 20;
    std::vector<float> in(kChunk);
    std::vector<Float16> hardware(kChunk);
    for (std::uint64_t base = 0; base < (std::uint64_t{1} << 32); base += kChunk) {
        for (std::uint64_t i = 0; i < kChunk; ++i) in[i] = std::bit_cast<float>(static_cast<std::uint32_t>(base + i));
        float16_route::from_float32_run_f16c(in.data(), hardware.data(), kChunk);
        for (std::uint64_t i = 0; i < kChunk; ++i) {
            const std::uint16_t soft = float16_route::from_float32_soft(in[i]).bits;
            if (hardware[i].bits != soft) {
                FAIL() << std::hex << "binary32 0x" << (base + i) << ": F16C 0x" << hardware[i].bits
                       << ", software 0x" << soft;
            }
        }
    }
}

TEST(Float16Exhaustive, EveryBinary16PatternWidensAlikeOnBothRoutes) {
    if (!float16_route::f16c_available()) GTEST_SKIP() << "processor lacks F16C";
    std::vector<Float16> in(1u << 16);
    for (std::uint32_t h = 0; h < in.size(); ++h) in[h] = Float16::from_bits(static_cast<std::uint16_t>(h));
    std::vector<float> hardware(in.size());
    float16_route::to_float32_run_f16c(in.data(), hardware.data(), in.size());
    for (std::uint32_t h = 0; h < in.size(); ++h) {
        ASSERT_EQ(std::bit_cast<std::uint32_t>(hardware[h]),
                  std::bit_cast<std::uint32_t>(float16_route::to_float32_soft(in[h])))
            << std::hex << h;
    }
}

}  // namespace
}  // namespace quellon
