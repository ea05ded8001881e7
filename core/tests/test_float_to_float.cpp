#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "float16_impls.h"
#include "float_to_float.h"

namespace quellon {
namespace {

using RM = RoundingMode;
constexpr RM kModes[] = {RM::NearestEven, RM::TowardsZero, RM::TowardsPositive, RM::TowardsNegative,
                         RM::NearestAway};
constexpr OptionalOutOfRange kChecked{};
constexpr OptionalOutOfRange kClamp{OutOfRangeMode::Clamp};
constexpr OptionalOutOfRange kWrap{OutOfRangeMode::Wrap};
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMaxFloat = 3.4028234663852886e38;

// Only for values the type holds exactly.
template <class F>
F exactly(double x) {
    if constexpr (std::is_same_v<F, Float16>) {
        return float32_to_float16(static_cast<float>(x));
    } else {
        return static_cast<F>(x);
    }
}

template <class F>
constexpr F fill_value() {
    return float_from_bits<F>(0x55);
}

template <class S, class T>
struct Run {
    std::vector<T> out;
    CastResult result = Ok{};
    double at(std::size_t i) const { return to_float64(out[i]); }
    bool untouched(std::size_t i) const { return float_to_bits(out[i]) == float_to_bits(fill_value<T>()); }
};

template <class S, class T>
Run<S, T> cast_values(const std::vector<S>& in, RM mode, OptionalOutOfRange range, ScalarMap<S, T> map = {},
                      std::size_t out_len = SIZE_MAX) {
    CastConfig<S, T> config{mode, range, std::move(map)};
    Run<S, T> run;
    run.out.assign(out_len == SIZE_MAX ? in.size() : out_len, fill_value<T>());
    run.result = convert_slice_float_to_float<S, T>(in, run.out, config);
    return run;
}

template <class S, class T>
Run<S, T> cast(const std::vector<double>& values, RM mode, OptionalOutOfRange range, ScalarMap<S, T> map = {},
               std::size_t out_len = SIZE_MAX) {
    std::vector<S> in;
    for (double v : values) in.push_back(exactly<S>(v));
    return cast_values<S, T>(in, mode, range, std::move(map), out_len);
}

template <class S, class T>
double cast_one(double x, RM mode) {
    auto run = cast<S, T>({x}, mode, kClamp);
    EXPECT_TRUE(run.result.ok());
    return run.at(0);
}

TEST(FloatToFloat, NarrowingFollowsTheMode) {
    const double tiny = std::ldexp(1.0, -150);
    const double min_sub = std::ldexp(1.0, -149);
    const double just_above_max = kMaxFloat + std::ldexp(1.0, 80);
    const double sub_below = 9.99994610111476e-41;
    const double sub_above = sub_below + min_sub;
    struct Case {
        double (*convert)(double, RM);
        double x;
        double even, zero, up, down, away;
    };
    const Case cases[] = {
        {cast_one<float, Float16>, 70000, kInf, 65504, kInf, 65504, kInf},
        {cast_one<float, Float16>, -70000, -kInf, -65504, -65504, -kInf, -kInf},
        {cast_one<float, Float16>, 1.00048828125, 1.0, 1.0, 1.0009765625, 1.0, 1.0009765625},
        {cast_one<float, Float16>, 65519, 65504, 65504, kInf, 65504, 65504},
        {cast_one<float, Float16>, 65520, kInf, 65504, kInf, 65504, kInf},
        // float64 reaches binary16 through float32: 65519.999 becomes the
        // float32 65520, a binary16 tie that goes to infinity, and
        // 1 + 2^-11 + 2^-30 becomes the tie 1 + 2^-11, which goes to even.
        // The directed modes still see the float64 value.
        {cast_one<double, Float16>, 65519.999, kInf, 65504, kInf, 65504, kInf},
        {cast_one<double, Float16>, -65519.999, -kInf, -65504, -65504, -kInf, -kInf},
        {cast_one<double, Float16>, 1.0 + std::ldexp(1.0, -11) + std::ldexp(1.0, -30), 1.0, 1.0, 1.0009765625, 1.0,
         1.0},
        {cast_one<double, Float16>, 1.0 + std::ldexp(1.0, -11) - std::ldexp(1.0, -30), 1.0, 1.0, 1.0009765625, 1.0,
         1.0},
        {cast_one<double, Float16>, 3.0 + std::ldexp(1.0, -10) + std::ldexp(1.0, -40), 3.0, 3.0, 3.001953125, 3.0,
         3.0},
        // An exact halfway value is a tie in either precision.
        {cast_one<double, Float16>, 1.0 + std::ldexp(1.0, -11), 1.0, 1.0, 1.0009765625, 1.0, 1.0009765625},
        {cast_one<double, Float16>, 1.0 + 3 * std::ldexp(1.0, -11), 1.001953125, 1.0009765625, 1.001953125,
         1.0009765625, 1.001953125},
        {cast_one<double, Float16>, std::ldexp(1.0, -25), 0.0, 0.0, std::ldexp(1.0, -24), 0.0,
         std::ldexp(1.0, -24)},
        {cast_one<double, float>, tiny, 0.0, 0.0, min_sub, 0.0, min_sub},
        {cast_one<double, float>, -tiny, -0.0, -0.0, -0.0, -min_sub, -min_sub},
        {cast_one<double, float>, 1e39, kInf, kMaxFloat, kInf, kMaxFloat, kInf},
        {cast_one<double, float>, -1e39, -kInf, -kMaxFloat, -kMaxFloat, -kInf, -kInf},
        {cast_one<double, float>, just_above_max, kMaxFloat, kMaxFloat, kInf, kMaxFloat, kMaxFloat},
        {cast_one<double, float>, 1e-40, sub_below, sub_below, sub_above, sub_below, sub_below},
    };
    for (const Case& c : cases) {
        const double expect[] = {c.even, c.zero, c.up, c.down, c.away};
        for (int m = 0; m < 5; ++m) {
            const double got = c.convert(c.x, kModes[m]);
            EXPECT_EQ(got, expect[m]) << c.x << " mode " << m;
            EXPECT_EQ(std::signbit(got), std::signbit(expect[m])) << c.x << " mode " << m;
        }
    }
}

TEST(FloatToFloat, OverflowToInfinityFailsUnlessClamped) {
    auto checked = cast<float, Float16>({70000}, RM::NearestEven, kChecked);
    EXPECT_EQ(checked.result.error(), CastError::out_of_range(70000, -65504, 65504));
    EXPECT_EQ(checked.result.error().message(),
              "Value 70000 out of range [-65504, 65504]. Set out_of_range='clamp' or out_of_range='wrap' to handle "
              "this.");
    EXPECT_EQ((cast<float, Float16>({70000}, RM::NearestEven, kWrap).result.error()),
              CastError::out_of_range(70000, -65504, 65504));
    auto clamp = cast<float, Float16>({70000}, RM::NearestEven, kClamp);
    ASSERT_TRUE(clamp.result.ok());
    EXPECT_EQ(clamp.at(0), kInf);
    for (OptionalOutOfRange range : {kChecked, kWrap, kClamp}) {
        auto zero = cast<float, Float16>({70000, -70000}, RM::TowardsZero, range);
        ASSERT_TRUE(zero.result.ok());
        EXPECT_EQ(zero.at(0), 65504);
        EXPECT_EQ(zero.at(1), -65504);
    }

    EXPECT_EQ((cast<double, float>({-1e39}, RM::TowardsNegative, kChecked).result.error()),
              CastError::out_of_range(-1e39, -kMaxFloat, kMaxFloat));
    EXPECT_EQ((cast<double, float>({kMaxFloat + std::ldexp(1.0, 80)}, RM::TowardsPositive, kWrap).result.error().kind),
              CastError::Kind::OutOfRange);
    EXPECT_EQ((cast<double, Float16>({-65520}, RM::NearestAway, kChecked).result.error()),
              CastError::out_of_range(-65520, -65504, 65504));
    // Overflow through the double rounding of float64 to binary16.
    for (OptionalOutOfRange range : {kChecked, kWrap}) {
        auto twice = cast<double, Float16>({1, 65519.999}, RM::NearestEven, range);
        EXPECT_EQ(twice.result.error(), CastError::out_of_range(65519.999, -65504, 65504));
        EXPECT_EQ(twice.at(0), 1);
        EXPECT_TRUE(twice.untouched(1));
    }
    EXPECT_EQ((cast<double, Float16>({65519.999}, RM::NearestEven, kChecked).result.error().message()),
              "Value 65519.999 out of range [-65504, 65504]. Set out_of_range='clamp' or out_of_range='wrap' to "
              "handle this.");
    auto below = cast<double, Float16>({65519.999, 65519.0}, RM::TowardsNegative, kChecked);
    ASSERT_TRUE(below.result.ok());
    EXPECT_EQ(below.at(0), 65504);
    EXPECT_EQ(below.at(1), 65504);

    // Infinities and NaN are never out of range.
    for (RM mode : kModes) {
        auto special = cast<double, Float16>({kInf, -kInf, std::nan("")}, mode, kChecked);
        ASSERT_TRUE(special.result.ok());
        EXPECT_EQ(special.at(0), kInf);
        EXPECT_EQ(special.at(1), -kInf);
        EXPECT_TRUE(special.out[2].is_nan());
        auto single = cast<double, float>({-kInf, std::nan("")}, mode, kChecked);
        ASSERT_TRUE(single.result.ok());
        EXPECT_TRUE(std::isnan(single.out[1]));
    }
}

TEST(FloatToFloat, StopsAtTheFirstOverflow) {
    // Element paths, in and beyond the first block.
    auto three = cast<float, Float16>({1, 70000, 2}, RM::NearestEven, kChecked);
    EXPECT_EQ(three.result.error().value, 70000);
    EXPECT_EQ(three.at(0), 1);
    EXPECT_TRUE(three.untouched(1) && three.untouched(2));

    std::vector<double> long_run(700, 0.25);
    long_run[300] = 1e6;
    long_run[500] = 1e7;
    for (RM mode : {RM::NearestEven, RM::TowardsPositive}) {
        auto run = cast<double, Float16>(long_run, mode, kChecked);
        EXPECT_EQ(run.result.error().value, 1e6);
        for (std::size_t i = 0; i < 300; ++i) ASSERT_EQ(run.at(i), 0.25) << i;
        for (std::size_t i = 300; i < 700; ++i) ASSERT_TRUE(run.untouched(i)) << i;
    }

    // float64 to float32 without the vector kernel (a mode other than nearest-even).
    auto directed = cast<double, float>({1, 1e39, 2}, RM::TowardsPositive, kChecked);
    EXPECT_EQ(directed.result.error(), CastError::out_of_range(1e39, -kMaxFloat, kMaxFloat));
    EXPECT_EQ(directed.out, (std::vector<float>{1.0f, fill_value<float>(), fill_value<float>()}));

    // The kernel stores the whole run before it checks; the error names the same element.
    auto kernel = cast<double, float>({1, 1e39, 2, 3, 4}, RM::NearestEven, kChecked);
    EXPECT_EQ(kernel.result.error(), CastError::out_of_range(1e39, -kMaxFloat, kMaxFloat));
    EXPECT_EQ(kernel.out[0], 1.0f);
    auto kernel_clamp = cast<double, float>({1, 1e39, 2, 3, 4}, RM::NearestEven, kClamp);
    ASSERT_TRUE(kernel_clamp.result.ok());
    EXPECT_EQ(kernel_clamp.out, (std::vector<float>{1, INFINITY, 2, 3, 4}));
}

TEST(FloatToFloat, ScalarMapComesFirst) {
    using Map = ScalarMap<double, float>;
    auto nan = cast<double, float>({std::nan("1"), -std::nan("7"), 2.5}, RM::NearestEven, kChecked,
                                   Map{{std::nan(""), 0.0f}});
    ASSERT_TRUE(nan.result.ok());
    EXPECT_EQ(nan.out, (std::vector<float>{0, 0, 2.5f}));
    EXPECT_EQ((cast<double, float>({0.0, -0.0}, RM::NearestEven, kChecked, Map{{0.0, 5.0f}}).out),
              (std::vector<float>{5, 5}));
    // A mapped value is never rounded or range-tested.
    auto mapped = cast<double, Float16>({1e10, 1e10}, RM::NearestEven, kChecked,
                                        ScalarMap<double, Float16>{{1e10, exactly<Float16>(kInf)}});
    ASSERT_TRUE(mapped.result.ok());
    EXPECT_EQ(mapped.at(1), kInf);
    auto unmapped = cast<double, Float16>({3, 1e10}, RM::NearestEven, kChecked,
                                          ScalarMap<double, Float16>{{3, exactly<Float16>(-1)}});
    EXPECT_EQ(unmapped.result.error().value, 1e10);
    EXPECT_EQ(unmapped.at(0), -1);
    EXPECT_TRUE(unmapped.untouched(1));
}

TEST(FloatToFloat, IdenticalPairsCopyBits) {
    const float payload = std::bit_cast<float>(0xFFA12345u);  // a signalling NaN with a payload
    const std::vector<float> in{payload, -0.0f, 1.5f};
    for (RM mode : kModes) {
        for (bool with_map : {false, true}) {
            ScalarMap<float, float> map;
            if (with_map) map.add(7.0f, 8.0f);
            auto run = cast_values<float, float>(in, mode, kChecked, map);
            ASSERT_TRUE(run.result.ok());
            for (std::size_t i = 0; i < in.size(); ++i) EXPECT_EQ(float_to_bits(run.out[i]), float_to_bits(in[i]));
        }
    }
    std::vector<Float16> halves{Float16::from_bits(0x7C01), Float16::from_bits(0x8000), Float16::from_bits(0x3C00)};
    const std::vector<Float16> before = halves;
    CastConfig<Float16, Float16> config{RM::TowardsZero, kChecked, {}};
    ASSERT_TRUE((convert_slice_float_to_float<Float16, Float16>(std::span<const Float16>(halves),
                                                                std::span<Float16>(halves), config)
                     .ok()));
    for (std::size_t i = 0; i < halves.size(); ++i) EXPECT_EQ(halves[i].bits, before[i].bits);
}

TEST(FloatToFloat, WideningIsExactForEveryBinary16) {
    std::vector<Float16> all;
    for (std::uint32_t b = 0; b < 0x10000; ++b) all.push_back(Float16::from_bits(static_cast<std::uint16_t>(b)));
    auto singles = cast_values<Float16, float>(all, RM::TowardsPositive, kChecked);
    auto doubles = cast_values<Float16, double>(all, RM::NearestAway, kChecked);
    auto mapped = cast_values<Float16, double>(all, RM::NearestEven, kChecked,
                                               ScalarMap<Float16, double>{{Float16::from_bits(0x4000), 9.0}});
    ASSERT_TRUE(singles.result.ok() && doubles.result.ok() && mapped.result.ok());
    for (std::size_t i = 0; i < all.size(); ++i) {
        const float expect = float16_to_float32(all[i]);
        ASSERT_EQ(float_to_bits(singles.out[i]), float_to_bits(expect)) << i;
        ASSERT_EQ(float_to_bits(doubles.out[i]), float_to_bits(static_cast<double>(expect))) << i;
        if (i != 0x4000) {
            ASSERT_EQ(float_to_bits(mapped.out[i]), float_to_bits(doubles.out[i])) << i;
        }
    }
    EXPECT_EQ(mapped.out[0x4000], 9.0);
    EXPECT_EQ(doubles.at(0x7BFF), 65504);
    EXPECT_EQ(singles.at(0x0001), 5.960464477539063e-08);

    auto f32 = cast<float, double>({0.1, -0.0, 1e-45}, RM::TowardsZero, kChecked, {}, 5);
    EXPECT_EQ(f32.at(0), static_cast<double>(0.1f));
    EXPECT_TRUE(std::signbit(f32.at(1)));
    EXPECT_TRUE(f32.untouched(3) && f32.untouched(4));
}

// Hardware conversion under a rounding direction, for the oracle only.
[[gnu::noinline]] float float_under(double x, int direction) {
    volatile double in = x;
    std::fesetround(direction);
    volatile float out = static_cast<float>(in);
    std::fesetround(FE_TONEAREST);
    return out;
}

// The target values either side of magnitude `mag`. Beyond the largest
// finite value the upper one is the next power of two, which stands for
// overflow.
std::pair<double, double> bracket_float(double mag) {
    const double lo = float_under(mag, FE_TOWARDZERO);
    const double hi = float_under(mag, FE_UPWARD);
    return {lo, std::isinf(hi) ? std::ldexp(1.0, 128) : hi};
}

std::pair<double, double> bracket_float16(double mag) {
    static const std::vector<double> table = [] {
        std::vector<double> values;
        for (std::uint16_t b = 0; b <= 0x7BFF; ++b) values.push_back(float16_to_float64(Float16::from_bits(b)));
        return values;
    }();
    if (mag > 65504.0) return {65504.0, 65536.0};
    const auto above = std::lower_bound(table.begin(), table.end(), mag);
    if (*above == mag) return {mag, mag};
    return {*(above - 1), *above};
}

// Correct rounding of x to T chosen by exact distances to both neighbours.
template <class T>
T oracle(double x, RM mode) {
    const bool negative = std::signbit(x);
    const double mag = std::fabs(x);
    const auto [lo, hi] = std::is_same_v<T, float> ? bracket_float(mag) : bracket_float16(mag);
    double result = lo;
    if (lo != mag) {
        const long double below = static_cast<long double>(mag) - lo;
        const long double above = static_cast<long double>(hi) - mag;
        const bool lo_even = (float_to_bits(exactly<T>(lo)) & 1) == 0;
        switch (mode) {
            case RM::TowardsZero: result = lo; break;
            case RM::TowardsPositive: result = negative ? lo : hi; break;
            case RM::TowardsNegative: result = negative ? hi : lo; break;
            case RM::NearestEven: result = below < above ? lo : above < below ? hi : (lo_even ? lo : hi); break;
            case RM::NearestAway: result = below < above ? lo : hi; break;
        }
    }
    if (result > to_float64(max_finite<T>())) result = kInf;
    return exactly<T>(negative ? -result : result);
}

// What the family gives: correct rounding, except that float64 reaches
// binary16 through float32 at the nearest modes. There the float32 value is
// rounded to nearest-even, and only a float64 that is itself a binary16
// halfway value (and so unchanged in float32) goes away from zero.
template <class S, class T>
T expected(double x, RM mode) {
    if constexpr (std::is_same_v<S, double> && std::is_same_v<T, Float16>) {
        if (mode == RM::NearestEven || mode == RM::NearestAway) {
            const double single = float_under(x, FE_TONEAREST);
            return oracle<T>(single, mode == RM::NearestAway && single == x ? RM::NearestAway : RM::NearestEven);
        }
    }
    return oracle<T>(x, mode);
}

template <class S, class T>
void check_against_oracle(const std::vector<double>& values) {
    std::vector<S> in;
    for (double v : values) in.push_back(static_cast<S>(v));
    for (RM mode : kModes) {
        auto straight = cast_values<S, T>(in, mode, kClamp);
        auto mapped = cast_values<S, T>(in, mode, kClamp, ScalarMap<S, T>{{static_cast<S>(-0.123), T{}}});
        ASSERT_TRUE(straight.result.ok() && mapped.result.ok());
        for (std::size_t i = 0; i < in.size(); ++i) {
            const T expect = expected<S, T>(static_cast<double>(in[i]), mode);
            ASSERT_EQ(float_to_bits(straight.out[i]), float_to_bits(expect))
                << static_cast<double>(in[i]) << " mode " << static_cast<int>(mode);
            ASSERT_EQ(float_to_bits(mapped.out[i]), float_to_bits(expect)) << static_cast<double>(in[i]);
        }
    }
}

// Random magnitudes across the target's range, exact midpoints between
// adjacent target values, and their nearest neighbours in the source type.
template <class S, class T>
std::vector<double> random_values(std::mt19937_64& rng, int min_exponent, int max_exponent) {
    std::vector<double> values;
    for (int i = 0; i < 2500; ++i) {
        const int exponent = min_exponent + static_cast<int>(rng() % static_cast<unsigned>(max_exponent - min_exponent));
        double v = static_cast<double>(static_cast<S>(std::ldexp(1.0 + std::ldexp(static_cast<double>(rng() >> 12), -52), exponent)));
        if (i % 2 == 0) {
            const T low = oracle<T>(v, RM::TowardsZero);
            const double next = to_float64(next_up(low));
            if (!std::isinf(next)) {
                const S mid = static_cast<S>((to_float64(low) + next) / 2);
                const S choices[] = {mid, next_up(mid), next_down(mid)};
                v = static_cast<double>(choices[rng() % 3]);
            }
        }
        values.push_back(rng() % 2 ? -v : v);
    }
    return values;
}

TEST(FloatToFloat, NarrowingMatchesCorrectRoundingOnRandomValues) {
    std::mt19937_64 rng(23);
    check_against_oracle<double, float>(random_values<double, float>(rng, -152, 129));
    check_against_oracle<double, Float16>(random_values<double, Float16>(rng, -27, 17));
    check_against_oracle<float, Float16>(random_values<float, Float16>(rng, -27, 17));
}

TEST(FloatToFloat, ProcessesTheShorterOfBothRuns) {
    auto shorter = cast<double, Float16>({1, 2, 3, 4, 5}, RM::NearestEven, kChecked, {}, 3);
    EXPECT_EQ(shorter.out.size(), 3u);
    EXPECT_EQ(shorter.at(2), 3);
    auto longer = cast<double, double>({1, 2, 3}, RM::NearestEven, kChecked, {}, 5);
    EXPECT_EQ(longer.at(2), 3);
    EXPECT_TRUE(longer.untouched(3) && longer.untouched(4));
    EXPECT_TRUE((cast<float, Float16>({}, RM::NearestEven, kChecked).result.ok()));
}

}  // namespace
}  // namespace quellon
