#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "float16_impls.h"

namespace quellon {
namespace {

namespace route = float16_route;

std::uint32_t bits_of(float f) { return std::bit_cast<std::uint32_t>(f); }
float float_of(std::uint32_t b) { return std::bit_cast<float>(b); }

// Every way a binary32 reaches binary16: the public scalar and run functions
// and each route on its own. All must give the same bits.
std::vector<std::uint16_t> narrowings(float f) {
    Float16 from_run;
    float32_to_float16_run(&f, &from_run, 1);
    std::vector<std::uint16_t> out{float32_to_float16(f).bits, from_run.bits, route::from_float32_soft(f).bits};
    if (route::f16c_available()) out.push_back(route::from_float32_f16c(f).bits);
    return out;
}

std::vector<std::uint32_t> widenings(std::uint16_t h) {
    float from_run;
    const Float16 in = Float16::from_bits(h);
    float16_to_float32_run(&in, &from_run, 1);
    std::vector<std::uint32_t> out{bits_of(float16_to_float32(in)), bits_of(from_run),
                                   bits_of(route::to_float32_soft(in))};
    if (route::f16c_available()) out.push_back(bits_of(route::to_float32_f16c(in)));
    return out;
}

TEST(Float16Narrowing, EdgeValuesOnEveryRoute) {
    struct Case {
        std::uint32_t in;
        std::uint16_t out;
    };
    const Case cases[] = {
        {bits_of(65519.0f), 0x7BFF},          // still 65504
        {bits_of(65519.99f), 0x7BFF},
        {bits_of(65520.0f), 0x7C00},          // halfway to the next binade: infinity
        {bits_of(-65520.0f), 0xFC00},
        {bits_of(1e10f), 0x7C00},
        {0x7F800000u, 0x7C00},                // +inf
        {0xFF800000u, 0xFC00},                // -inf
        {bits_of(65504.0f), 0x7BFF},
        {bits_of(32767.0f), 0x7800},          // 32768
        {bits_of(2049.0f), 0x6800},           // tie to even: 2048
        {bits_of(2051.0f), 0x6802},           // tie to even: 2052
        {bits_of(1.0f + 0x1p-11f), 0x3C00},   // tie, stays even
        {bits_of(1.0f + 0x3p-11f), 0x3C02},   // tie, goes up to even
        {bits_of(2047.99f), 0x6800},          // fraction carry steps into the exponent
        {bits_of(0x1p-25f), 0x0000},          // tie between 0 and 2^-24
        {bits_of(-0x1p-25f), 0x8000},
        {bits_of(0x1.000002p-25f), 0x0001},   // just above the tie
        {bits_of(1.5f * 0x1p-25f), 0x0001},
        {bits_of(0x1p-24f), 0x0001},
        {bits_of(0x1p-26f), 0x0000},
        {0x00000001u, 0x0000},                // binary32 subnormal
        {0x80000001u, 0x8000},
        {bits_of(0x1p-14f - 0x1p-25f), 0x0400},  // largest subnormal tie rounds into the normals
        {bits_of(0x1p-14f), 0x0400},
        {bits_of(0x3p-24f), 0x0003},
        {bits_of(0x5p-25f), 0x0002},          // 2.5 units: tie to even
        {bits_of(0.0f), 0x0000},
        {bits_of(-0.0f), 0x8000},
        {bits_of(1.0f), 0x3C00},
        {0x7F800001u, 0x7E00},  // signalling, payload below the kept bits: quiet bit only
        {0xFF800001u, 0xFE00},
        {0x7FC00000u, 0x7E00},
        {0x7F802000u, 0x7E01},  // lowest kept fraction bit survives
        {0x7FFFFFFFu, 0x7FFF},
        {0x7FA00000u, 0x7F00},  // signalling with a high payload bit
    };
    for (const Case& c : cases) {
        for (std::uint16_t got : narrowings(float_of(c.in))) {
            EXPECT_EQ(got, c.out) << std::hex << "binary32 0x" << c.in;
        }
    }
}

TEST(Float16Widening, EdgeValuesOnEveryRoute) {
    struct Case {
        std::uint16_t in;
        std::uint32_t out;
    };
    const Case cases[] = {
        {0x7C01, 0x7FC02000u},  // signalling: quieted, fraction moved up 13 places
        {0xFC01, 0xFFC02000u},
        {0x7E00, 0x7FC00000u},
        {0x7FFF, 0x7FFFE000u},
        {0x7C00, 0x7F800000u},
        {0xFC00, 0xFF800000u},
        {0x0000, 0x00000000u},
        {0x8000, 0x80000000u},
        {0x0001, bits_of(0x1p-24f)},
        {0x8001, bits_of(-0x1p-24f)},
        {0x0200, bits_of(0x1p-15f)},
        {0x03FF, bits_of(0x3FFp-24f)},
        {0x0400, bits_of(0x1p-14f)},
        {0x3C00, bits_of(1.0f)},
        {0x7BFF, bits_of(65504.0f)},
        {0xC000, bits_of(-2.0f)},
    };
    for (const Case& c : cases) {
        for (std::uint32_t got : widenings(c.in)) EXPECT_EQ(got, c.out) << std::hex << "binary16 0x" << c.in;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(float16_to_float64(Float16::from_bits(c.in))),
                  std::bit_cast<std::uint64_t>(static_cast<double>(float_of(c.out))));
    }
}

// Every binary16 value widens identically on each route, and narrowing it
// back gives the same pattern (NaNs come back quiet).
TEST(Float16Routes, AllBinary16PatternsRoundTrip) {
    std::vector<Float16> all(1u << 16);
    for (std::uint32_t h = 0; h < all.size(); ++h) all[h] = Float16::from_bits(static_cast<std::uint16_t>(h));
    std::vector<float> wide(all.size());
    float16_to_float32_run(all.data(), wide.data(), all.size());
    std::vector<Float16> back(all.size());
    float32_to_float16_run(wide.data(), back.data(), all.size());

    for (std::uint32_t h = 0; h < all.size(); ++h) {
        const std::uint32_t soft = bits_of(route::to_float32_soft(all[h]));
        ASSERT_EQ(bits_of(wide[h]), soft) << std::hex << h;
        if (route::f16c_available()) {
            ASSERT_EQ(bits_of(route::to_float32_f16c(all[h])), soft) << std::hex << h;
        }
        const std::uint16_t expected_back = all[h].is_nan() ? static_cast<std::uint16_t>(h | 0x0200) : all[h].bits;
        ASSERT_EQ(back[h].bits, expected_back) << std::hex << h;
    }
}

// A dense sample of binary32 patterns: every upper part with the rounding
// neighbourhoods of the 13 dropped bits, plus a strided sweep for the
// subnormal results, whose rounding position moves. The full 2^32 sweep is
// in the exhaustive test binary.
TEST(Float16Routes, Binary32SampleMatchesOnEveryRoute) {
    std::vector<float> in;
    const std::uint32_t low_parts[] = {0x0000, 0x0001, 0x0FFF, 0x1000, 0x1001, 0x1FFF, 0x0ABC};
    for (std::uint32_t upper = 0; upper < (1u << 19); ++upper) {
        for (std::uint32_t low : low_parts) in.push_back(float_of((upper << 13) | low));
    }
    constexpr std::uint32_t kStride = 251;
    for (std::uint64_t b = 0; b <= 0xFFFFFFFFu; b += kStride) in.push_back(float_of(static_cast<std::uint32_t>(b)));

    std::vector<Float16> run(in.size());
    float32_to_float16_run(in.data(), run.data(), in.size());
    const bool f16c = route::f16c_available();
    for (std::size_t i = 0; i < in.size(); ++i) {
        const std::uint16_t soft = route::from_float32_soft(in[i]).bits;
        ASSERT_EQ(run[i].bits, soft) << std::hex << bits_of(in[i]);
        if (f16c) {
            ASSERT_EQ(route::from_float32_f16c(in[i]).bits, soft) << std::hex << bits_of(in[i]);
        }
    }
}

// Run versions handle a tail that is not a whole vector block.
TEST(Float16Routes, RunsOfEveryShortLength) {
    for (std::size_t n = 0; n <= 19; ++n) {
        std::vector<float> in(n);
        for (std::size_t i = 0; i < n; ++i) in[i] = static_cast<float>(i) * 1.25f - 3.0f;
        std::vector<Float16> narrow(n + 1, Float16::from_bits(0xBEEF));
        float32_to_float16_run(in.data(), narrow.data(), n);
        std::vector<float> wide(n + 1, -7.0f);
        float16_to_float32_run(narrow.data(), wide.data(), n);
        for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(wide[i], in[i]) << n << " " << i;
        EXPECT_EQ(narrow[n].bits, 0xBEEF);
        EXPECT_EQ(wide[n], -7.0f);
    }
}

Float16 h(float f) { return float32_to_float16(f); }

TEST(Float16Arithmetic, EachOperationRoundsBackToBinary16) {
    EXPECT_EQ(float16_add(h(2048), h(1)).bits, h(2048).bits);     // 2049 is not a binary16
    EXPECT_EQ(float16_add(h(2048), h(3)).bits, h(2052).bits);
    EXPECT_EQ(float16_add(h(65504), h(16)).bits, 0x7C00);         // 65520 overflows
    EXPECT_EQ(float16_add(h(65504), h(8)).bits, h(65504).bits);
    EXPECT_EQ(float16_sub(h(0), h(65504)).bits, h(-65504).bits);
    EXPECT_EQ(float16_sub(h(1), h(1)).bits, 0x0000);
    EXPECT_EQ(float16_sub(h(0x1p-24f), h(0x1p-24f)).bits, 0x0000);
    // A chain converts back after each step: (2048 + 1) + 1 stays 2048.
    EXPECT_EQ(float16_add(float16_add(h(2048), h(1)), h(1)).bits, h(2048).bits);
    EXPECT_TRUE(float16_add(Float16::from_bits(0x7C00), Float16::from_bits(0xFC00)).is_nan());
}

TEST(Float16Arithmetic, AbsClearsTheSignAndQuietsNaN) {
    EXPECT_EQ(float16_abs(h(-2.5f)).bits, h(2.5f).bits);
    EXPECT_EQ(float16_abs(Float16::from_bits(0x8000)).bits, 0x0000);
    EXPECT_EQ(float16_abs(Float16::from_bits(0xFC00)).bits, 0x7C00);
    EXPECT_EQ(float16_abs(Float16::from_bits(0x8001)).bits, 0x0001);
    EXPECT_EQ(float16_abs(Float16::from_bits(0xFC01)).bits, 0x7E01);
}

}  // namespace
}  // namespace quellon
