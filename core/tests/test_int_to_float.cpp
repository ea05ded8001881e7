#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "float16_impls.h"
#include "int_to_float.h"

namespace quellon {
namespace {

using RM = RoundingMode;
constexpr RM kModes[] = {RM::NearestEven, RM::TowardsZero, RM::TowardsPositive, RM::TowardsNegative,
                         RM::NearestAway};

template <class F>
double as_double(F x) {
    return to_float64(x);
}

template <class F>
std::uint64_t bits_of(F x) {
    return float_to_bits(x);
}

template <class S, class F>
std::vector<F> cast(const std::vector<S>& in, RM mode, ScalarMap<S, F> map = {}, std::size_t out_len = SIZE_MAX) {
    CastConfig<S, F> config{mode, std::nullopt, std::move(map)};
    std::vector<F> out(out_len == SIZE_MAX ? in.size() : out_len, float_from_bits<F>(0x5A));
    EXPECT_TRUE((convert_slice_int_to_float<S, F>(in, out, config).ok()));
    return out;
}

template <class S, class F>
double cast_one(S v, RM mode) {
    return as_double(cast<S, F>({v}, mode)[0]);
}

TEST(IntToFloat, ExactPairsFollowSignificandWidths) {
    static_assert(int_fits_float<std::int8_t, Float16> && int_fits_float<std::uint8_t, Float16>);
    static_assert(!int_fits_float<std::int16_t, Float16> && !int_fits_float<std::uint16_t, Float16>);
    static_assert(int_fits_float<std::uint16_t, float> && !int_fits_float<std::int32_t, float>);
    static_assert(int_fits_float<std::uint32_t, double> && !int_fits_float<std::int64_t, double>);
    static_assert(!int_fits_float<std::uint64_t, float>);
    // float64 targets ignore the mode even where they round.
    static_assert(int_to_float_ignores_mode<std::int64_t, double> && int_to_float_ignores_mode<std::uint64_t, double>);
    static_assert(!int_to_float_ignores_mode<std::int64_t, float> && !int_to_float_ignores_mode<std::int32_t, Float16>);

    // Every int8 and uint8 value is the same number under every mode.
    std::vector<std::int8_t> all_int8;
    for (int v = -128; v < 128; ++v) all_int8.push_back(static_cast<std::int8_t>(v));
    for (RM mode : kModes) {
        const auto halves = cast<std::int8_t, Float16>(all_int8, mode);
        const auto singles = cast<std::int8_t, float>(all_int8, mode);
        for (std::size_t i = 0; i < all_int8.size(); ++i) {
            EXPECT_EQ(as_double(halves[i]), all_int8[i]);
            EXPECT_EQ(singles[i], all_int8[i]);
        }
    }
}

TEST(IntToFloat, ModesChooseBetweenTheTwoNeighbours) {
    struct Case {
        double (*convert)(RM);
        double even, zero, up, down, away;
    };
    const Case cases[] = {
        {[](RM m) { return cast_one<std::int32_t, float>(16777217, m); },
         16777216, 16777216, 16777218, 16777216, 16777218},
        {[](RM m) { return cast_one<std::int32_t, float>(-16777217, m); },
         -16777216, -16777216, -16777216, -16777218, -16777218},
        {[](RM m) { return cast_one<std::int32_t, float>(16777219, m); },
         16777220, 16777218, 16777220, 16777218, 16777220},
        {[](RM m) { return cast_one<std::int16_t, Float16>(2049, m); }, 2048, 2048, 2050, 2048, 2050},
        {[](RM m) { return cast_one<std::int16_t, Float16>(-2051, m); }, -2052, -2050, -2050, -2052, -2052},
        {[](RM m) { return cast_one<std::uint16_t, Float16>(65535, m); },
         INFINITY, 65504, INFINITY, 65504, INFINITY},
        {[](RM m) { return cast_one<std::uint16_t, Float16>(65519, m); }, 65504, 65504, INFINITY, 65504, 65504},
        {[](RM m) { return cast_one<std::uint16_t, Float16>(65520, m); },
         INFINITY, 65504, INFINITY, 65504, INFINITY},
        {[](RM m) { return cast_one<std::int32_t, Float16>(-70000, m); },
         -INFINITY, -65504, -65504, -INFINITY, -INFINITY},
        {[](RM m) { return cast_one<std::int64_t, Float16>(INT64_MIN, m); },
         -INFINITY, -65504, -65504, -INFINITY, -INFINITY},
        // float64 targets are rounded to nearest, ties to even, under every mode.
        {[](RM m) { return cast_one<std::int64_t, double>((std::int64_t{1} << 53) + 1, m); },
         9007199254740992.0, 9007199254740992.0, 9007199254740992.0, 9007199254740992.0, 9007199254740992.0},
        {[](RM m) { return cast_one<std::int64_t, double>(-(std::int64_t{1} << 53) - 3, m); },
         -9007199254740996.0, -9007199254740996.0, -9007199254740996.0, -9007199254740996.0, -9007199254740996.0},
        {[](RM m) { return cast_one<std::int64_t, double>(INT64_MAX, m); },
         9223372036854775808.0, 9223372036854775808.0, 9223372036854775808.0, 9223372036854775808.0,
         9223372036854775808.0},
        // float32 from 64 bits judges exactness against v's nearest float64:
        // 2^53 + 1 looks exact there, so every mode keeps 2^53.
        {[](RM m) { return cast_one<std::int64_t, float>((std::int64_t{1} << 53) + 1, m); },
         9007199254740992.0, 9007199254740992.0, 9007199254740992.0, 9007199254740992.0, 9007199254740992.0},
        // 2^53 + 2^29 - 1 has the float32 midpoint 2^53 + 2^29 as its nearest
        // float64, so nearest-away treats it as a tie.
        {[](RM m) { return cast_one<std::int64_t, float>((std::int64_t{1} << 53) + (std::int64_t{1} << 29) - 1, m); },
         9007199254740992.0, 9007199254740992.0, 9007200328482816.0, 9007199254740992.0, 9007200328482816.0},
        {[](RM m) { return cast_one<std::uint64_t, float>(UINT64_MAX, m); },
         18446744073709551616.0, 18446744073709551616.0, 18446744073709551616.0, 18446744073709551616.0,
         18446744073709551616.0},
        {[](RM m) { return cast_one<std::int64_t, float>(-(std::int64_t{1} << 40) - 1, m); },
         -1099511627776.0, -1099511627776.0, -1099511627776.0, -1099511758848.0, -1099511627776.0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.convert(RM::NearestEven), c.even);
        EXPECT_EQ(c.convert(RM::TowardsZero), c.zero);
        EXPECT_EQ(c.convert(RM::TowardsPositive), c.up);
        EXPECT_EQ(c.convert(RM::TowardsNegative), c.down);
        EXPECT_EQ(c.convert(RM::NearestAway), c.away);
    }
}

TEST(IntToFloat, Uint64AboveTwoToThe63RoundsOnce) {
    const std::uint64_t two63 = std::uint64_t{1} << 63;
    struct Case {
        std::uint64_t v;
        double to_float, to_double;
    };
    const Case cases[] = {
        {two63 + 1, 9223372036854775808.0, 9223372036854775808.0},
        {UINT64_MAX, 18446744073709551616.0, 18446744073709551616.0},
        // float32 spacing here is 2^40, float64 spacing 2^11.
        {two63 + (std::uint64_t{1} << 39), 9223372036854775808.0, 9223372036854775808.0 + 549755813888.0},
        {two63 + (std::uint64_t{1} << 39) + 1, 9223373136366403584.0, 9223372586610589696.0},
        {two63 + 3 * (std::uint64_t{1} << 39), 9223374235878031360.0, 9223373686122217472.0},
        {two63 + 1024, 9223372036854775808.0, 9223372036854775808.0},
        {two63 + 1025, 9223372036854775808.0, 9223372036854777856.0},
        {two63 + 3072, 9223372036854775808.0, 9223372036854779904.0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ((cast_one<std::uint64_t, float>(c.v, RM::NearestEven)), c.to_float) << c.v;
        EXPECT_EQ((cast_one<std::uint64_t, double>(c.v, RM::NearestEven)), c.to_double) << c.v;
    }
    EXPECT_EQ((cast_one<std::uint64_t, float>(two63 + (std::uint64_t{1} << 39), RM::NearestAway)),
              9223373136366403584.0);
    // The float64 nearest to v decides: 2^63 + 2^40 + 1 looks exact there.
    EXPECT_EQ((cast_one<std::uint64_t, float>(two63 + (std::uint64_t{1} << 40) + 1, RM::TowardsPositive)),
              9223373136366403584.0);
    EXPECT_EQ((cast_one<std::uint64_t, float>(two63 + (std::uint64_t{1} << 40) + 4096, RM::TowardsPositive)),
              9223374235878031360.0);
    EXPECT_EQ((cast_one<std::uint64_t, double>(UINT64_MAX, RM::TowardsNegative)), 18446744073709551616.0);
    EXPECT_EQ((cast_one<std::uint64_t, double>(two63 + 1, RM::TowardsPositive)), 9223372036854775808.0);
}

using Magnitude = unsigned __int128;

// The correctly rounded magnitude computed on the integer itself: keep the
// top `digits` bits and decide the carry from the rest.
template <class F>
double round_integer(Magnitude mag, bool negative, RM mode) {
    constexpr int digits = FloatFormat<F>::digits;
    if (mag == 0) return 0.0;
    int length = 0;
    for (Magnitude m = mag; m != 0; m >>= 1) ++length;
    const int shift = length > digits ? length - digits : 0;
    Magnitude kept = mag >> shift;
    const Magnitude rest = shift == 0 ? 0 : mag & ((Magnitude{1} << shift) - 1);
    const Magnitude half = shift == 0 ? 1 : Magnitude{1} << (shift - 1);
    bool carry = false;
    switch (mode) {
        case RM::NearestEven: carry = rest > half || (rest == half && (kept & 1)); break;
        case RM::NearestAway: carry = rest >= half && shift > 0; break;
        case RM::TowardsZero: break;
        case RM::TowardsPositive: carry = rest != 0 && !negative; break;
        case RM::TowardsNegative: carry = rest != 0 && negative; break;
    }
    long double magnitude = std::ldexp(static_cast<long double>(kept + (carry ? 1 : 0)), shift);
    const long double max = static_cast<long double>(as_double(max_finite<F>()));
    if (magnitude > max) {
        // Overflow: modes that round the magnitude down stop at the largest finite value.
        const bool towards_zero = mode == RM::TowardsZero || (mode == RM::TowardsPositive && negative) ||
                                  (mode == RM::TowardsNegative && !negative);
        magnitude = towards_zero ? max : HUGE_VALL;
    }
    return static_cast<double>(negative ? -magnitude : magnitude);
}

// Nearest-even is one correct rounding of v. float64 targets always round
// that way; the other modes round v's nearest float64, which is v itself up
// to magnitude 2^53.
template <class S, class F>
double oracle(S v, RM mode) {
    const bool negative = v < 0;
    const Magnitude mag = negative ? Magnitude{0} - static_cast<Magnitude>(v) : static_cast<Magnitude>(v);
    if (std::is_same_v<F, double> || mode == RM::NearestEven) return round_integer<F>(mag, negative, RM::NearestEven);
    const double w = std::fabs(round_integer<double>(mag, negative, RM::NearestEven));
    return round_integer<F>(static_cast<Magnitude>(w), negative, mode);
}

template <class S, class F>
void check_against_oracle(std::mt19937_64& rng) {
    std::vector<S> values;
    for (int i = 0; i < 3000; ++i) {
        // Random bit lengths, and values one off the ties of the float spacing.
        const int length = 1 + static_cast<int>(rng() % std::numeric_limits<S>::digits);
        std::uint64_t u = rng() >> (64 - length);
        const int shift = length - FloatFormat<F>::digits;
        if (shift > 0 && i % 3 == 0) {
            u = (u >> shift << shift) | (std::uint64_t{1} << (shift - 1));
            u += static_cast<std::uint64_t>(static_cast<int>(rng() % 3) - 1);
        }
        S v = static_cast<S>(u);
        if (std::is_signed_v<S> && rng() % 2) v = static_cast<S>(std::uint64_t{0} - u);
        values.push_back(v);
    }
    values.push_back(std::numeric_limits<S>::min());
    values.push_back(std::numeric_limits<S>::max());
    for (RM mode : kModes) {
        const std::vector<F> straight = cast<S, F>(values, mode);
        const std::vector<F> mapped = cast<S, F>(values, mode, ScalarMap<S, F>{{S{3}, float_from_bits<F>(0)}});
        for (std::size_t i = 0; i < values.size(); ++i) {
            const double expect = oracle<S, F>(values[i], mode);
            EXPECT_EQ(as_double(straight[i]), expect) << +values[i] << " mode " << static_cast<int>(mode);
            if (values[i] != S{3}) {
                EXPECT_EQ(bits_of(mapped[i]), bits_of(straight[i])) << +values[i];
            }
        }
    }
}

template <class F, class... Ss>
void check_sources(std::mt19937_64& rng) {
    (check_against_oracle<Ss, F>(rng), ...);
}

TEST(IntToFloat, MatchesExactOracleOnRandomValues) {
    std::mt19937_64 rng(11);
    check_sources<Float16, std::int8_t, std::int16_t, std::int32_t, std::int64_t, std::uint8_t, std::uint16_t,
                  std::uint32_t, std::uint64_t>(rng);
    check_sources<float, std::int8_t, std::int16_t, std::int32_t, std::int64_t, std::uint8_t, std::uint16_t,
                  std::uint32_t, std::uint64_t>(rng);
    check_sources<double, std::int8_t, std::int16_t, std::int32_t, std::int64_t, std::uint8_t, std::uint16_t,
                  std::uint32_t, std::uint64_t>(rng);
}

TEST(IntToFloat, ScalarMapWinsUnderEveryMode) {
    for (RM mode : kModes) {
        const auto out = cast<std::int32_t, float>({5, 16777217, 6}, mode, ScalarMap<std::int32_t, float>{{5, 0.5f}});
        EXPECT_EQ(out[0], 0.5f);
        EXPECT_EQ(out[1], (oracle<std::int32_t, float>(16777217, mode)));
        EXPECT_EQ(out[2], 6.0f);
    }
}

TEST(IntToFloat, ProcessesTheShorterOfBothRuns) {
    const auto out = cast<std::int32_t, Float16>({1, 2, 3, 4}, RM::NearestEven, {}, 6);
    EXPECT_EQ(as_double(out[1]), 2.0);
    EXPECT_EQ(out[4].bits, 0x5A);
    EXPECT_EQ(out[5].bits, 0x5A);
    const auto shorter = cast<std::int64_t, double>({1, 2, 3, 4}, RM::TowardsZero, {}, 2);
    EXPECT_EQ(shorter, (std::vector<double>{1, 2}));
    EXPECT_TRUE((cast<std::int64_t, double>({}, RM::NearestEven).empty()));
}

TEST(IntToFloat, InPlaceOnTheSameBuffer) {
    // Longer than one block of the binary16 path.
    std::vector<std::int16_t> buf(600);
    for (std::size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<std::int16_t>(i * 7 - 2100);
    const std::vector<std::int16_t> original = buf;
    auto* out = reinterpret_cast<Float16*>(buf.data());
    CastConfig<std::int16_t, Float16> config{RM::TowardsPositive, std::nullopt, {}};
    ASSERT_TRUE((convert_slice_int_to_float<std::int16_t, Float16>(std::span<const std::int16_t>(original.data(), 600),
                                                                    std::span<Float16>(out, 600), config)
                     .ok()));
    // The reference was converted from a copy; now convert the buffer onto itself.
    const std::vector<Float16> expect(out, out + 600);
    buf = original;
    ASSERT_TRUE((convert_slice_int_to_float<std::int16_t, Float16>(std::span<const std::int16_t>(buf.data(), 600),
                                                                    std::span<Float16>(out, 600), config)
                     .ok()));
    for (std::size_t i = 0; i < 600; ++i) {
        EXPECT_EQ(out[i].bits, expect[i].bits) << i;
        EXPECT_EQ(as_double(out[i]), (oracle<std::int16_t, Float16>(original[i], RM::TowardsPositive)));
    }

    std::vector<std::int64_t> wide{(std::int64_t{1} << 53) + 1, -3};
    auto* doubles = reinterpret_cast<double*>(wide.data());
    CastConfig<std::int64_t, double> up{RM::TowardsPositive, std::nullopt, {}};
    ASSERT_TRUE((convert_slice_int_to_float<std::int64_t, double>(std::span<const std::int64_t>(wide),
                                                                   std::span<double>(doubles, 2), up)
                     .ok()));
    EXPECT_EQ(doubles[0], 9007199254740992.0);
    EXPECT_EQ(doubles[1], -3.0);
}

}  // namespace
}  // namespace quellon
