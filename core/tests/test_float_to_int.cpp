#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "float16_impls.h"
#include "float_to_int.h"
#include "simd/cpu_features.h"

namespace quellon {
namespace {

using RM = RoundingMode;
constexpr OptionalOutOfRange kChecked{};
constexpr OptionalOutOfRange kClamp{OutOfRangeMode::Clamp};
constexpr OptionalOutOfRange kWrap{OutOfRangeMode::Wrap};
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t kFill = 99;

Float16 h(float f) { return float32_to_float16(f); }

template <class F>
F from_double(double x) {
    if constexpr (std::is_same_v<F, Float16>) {
        return h(static_cast<float>(x));
    } else {
        return static_cast<F>(x);
    }
}

template <class F, class I>
struct Run {
    std::vector<I> out;
    CastResult result = Ok{};
};

template <class F, class I>
Run<F, I> cast(const std::vector<double>& values, RM rounding, OptionalOutOfRange range, ScalarMap<F, I> map = {},
               std::size_t out_len = SIZE_MAX) {
    std::vector<F> in;
    for (double v : values) in.push_back(from_double<F>(v));
    CastConfig<F, I> config{rounding, range, std::move(map)};
    Run<F, I> run;
    run.out.assign(out_len == SIZE_MAX ? in.size() : out_len, static_cast<I>(kFill));
    run.result = convert_slice_float_to_int<F, I>(in, run.out, config);
    return run;
}

// One element through the family; fails the test on an unexpected error.
template <class F, class I>
I cast_one(double x, RM rounding, OptionalOutOfRange range) {
    auto run = cast<F, I>({x}, rounding, range);
    EXPECT_TRUE(run.result.ok()) << x << ": " << (run.result.ok() ? "" : run.result.error().message());
    return run.out[0];
}

template <class F, class I>
CastError cast_error(double x, RM rounding, OptionalOutOfRange range) {
    auto run = cast<F, I>({x}, rounding, range);
    EXPECT_FALSE(run.result.ok()) << x;
    EXPECT_EQ(run.out[0], static_cast<I>(kFill));
    return run.result.ok() ? CastError::not_castable(0) : run.result.error();
}

constexpr double k31 = 2147483648.0;
constexpr double k32 = 4294967296.0;
constexpr double k63 = 9223372036854775808.0;
constexpr double k64 = 18446744073709551616.0;

template <class F, class I>
std::array<double, 3> bounds_of() {
    const auto b = FloatIntBounds<F, I>::make();
    return {to_float64(b.lo), to_float64(b.hi), to_float64(b.modulus)};
}

TEST(FloatIntBounds, EndsAndModulusAsTheSourceTypeHoldsThem) {
    struct Case {
        const char* pair;
        std::array<double, 3> (*bounds)();
        double lo, hi, modulus;
    };
    const Case cases[] = {
        {"f32 i8", bounds_of<float, std::int8_t>, -128, 127, 256},
        {"f64 i8", bounds_of<double, std::int8_t>, -128, 127, 256},
        {"f16 i8", bounds_of<Float16, std::int8_t>, -128, 127, 256},
        {"f32 i16", bounds_of<float, std::int16_t>, -32768, 32767, 65536},
        {"f64 i16", bounds_of<double, std::int16_t>, -32768, 32767, 65536},
        {"f16 i16", bounds_of<Float16, std::int16_t>, -32768, 32768, kInf},
        {"f32 i32", bounds_of<float, std::int32_t>, -k31, k31, k32},
        {"f64 i32", bounds_of<double, std::int32_t>, -k31, k31 - 1, k32},
        {"f16 i32", bounds_of<Float16, std::int32_t>, -kInf, kInf, kInf},
        {"f32 i64", bounds_of<float, std::int64_t>, -k63, k63, k64},
        {"f64 i64", bounds_of<double, std::int64_t>, -k63, k63, k64},
        {"f16 i64", bounds_of<Float16, std::int64_t>, -kInf, kInf, kInf},
        {"f32 u8", bounds_of<float, std::uint8_t>, 0, 255, 256},
        {"f64 u8", bounds_of<double, std::uint8_t>, 0, 255, 256},
        {"f16 u8", bounds_of<Float16, std::uint8_t>, 0, 255, 256},
        {"f32 u16", bounds_of<float, std::uint16_t>, 0, 65535, 65536},
        {"f64 u16", bounds_of<double, std::uint16_t>, 0, 65535, 65536},
        {"f16 u16", bounds_of<Float16, std::uint16_t>, 0, kInf, kInf},
        {"f32 u32", bounds_of<float, std::uint32_t>, 0, k32, k32},
        {"f64 u32", bounds_of<double, std::uint32_t>, 0, k32 - 1, k32},
        {"f16 u32", bounds_of<Float16, std::uint32_t>, 0, kInf, kInf},
        {"f32 u64", bounds_of<float, std::uint64_t>, 0, k64, k64},
        {"f64 u64", bounds_of<double, std::uint64_t>, 0, k64, k64},
        {"f16 u64", bounds_of<Float16, std::uint64_t>, 0, kInf, kInf},
    };
    for (const Case& c : cases) {
        const auto [lo, hi, modulus] = c.bounds();
        EXPECT_EQ(lo, c.lo) << c.pair;
        EXPECT_EQ(hi, c.hi) << c.pair;
        EXPECT_EQ(modulus, c.modulus) << c.pair;
    }
}

TEST(FloatIntBounds, RangeTestWrapAndSaturation) {
    const auto f32_i32 = FloatIntBounds<float, std::int32_t>::make();
    EXPECT_TRUE(f32_i32.contains(2147483648.0f));
    EXPECT_TRUE(f32_i32.contains(-2147483648.0f));
    EXPECT_FALSE(f32_i32.contains(2147483904.0f));
    EXPECT_FALSE(f32_i32.contains(-2147483904.0f));
    EXPECT_EQ(f32_i32.error(3e9f), CastError::out_of_range(3e9, -k31, k31));

    const auto f16_i16 = FloatIntBounds<Float16, std::int16_t>::make();
    EXPECT_TRUE(f16_i16.contains(32768.0f));
    EXPECT_FALSE(f16_i16.contains(32800.0f));
    EXPECT_FALSE(f16_i16.contains(-32800.0f));
    const auto f16_u16 = FloatIntBounds<Float16, std::uint16_t>::make();
    EXPECT_TRUE(f16_u16.contains(INFINITY));
    EXPECT_FALSE(f16_u16.contains(-1.0f));
    EXPECT_EQ(f16_u16.error(-1.0f), CastError::out_of_range(-1, 0, kInf));

    // The wrap rounds in the source type after each step.
    EXPECT_EQ((FloatIntBounds<float, std::uint32_t>::make().wrap(-200.0f)), 4294967040.0f);
    EXPECT_EQ((FloatIntBounds<double, std::uint32_t>::make().wrap(-200.0)), 4294967096.0);
    EXPECT_EQ((FloatIntBounds<double, std::int8_t>::make().wrap(200.0)), -56.0);
    EXPECT_EQ((saturate_to_int<float, std::uint32_t>(FloatIntBounds<float, std::uint32_t>::make().wrap(-1.0f))),
              UINT32_MAX);
    EXPECT_EQ((saturate_to_int<Float16, std::int16_t>(f16_i16.wrap(32800.0f))), 0);
    EXPECT_EQ((saturate_to_int<Float16, std::int16_t>(f16_i16.wrap(-32800.0f))), 32767);
    EXPECT_EQ((saturate_to_int<Float16, std::uint16_t>(f16_u16.wrap(-2.0f))), 65535);

    EXPECT_EQ((saturate_to_int<float, std::int32_t>(2147483648.0f)), INT32_MAX);
    EXPECT_EQ((saturate_to_int<float, std::int32_t>(-2147483648.0f)), INT32_MIN);
    EXPECT_EQ((saturate_to_int<float, std::int32_t>(2147483520.0f)), 2147483520);
    EXPECT_EQ((saturate_to_int<double, std::uint64_t>(k64)), UINT64_MAX);
    EXPECT_EQ((saturate_to_int<double, std::uint64_t>(18446744073709549568.0)), 18446744073709549568ull);
    EXPECT_EQ((saturate_to_int<double, std::int64_t>(k63)), INT64_MAX);
    EXPECT_EQ((saturate_to_int<double, std::int64_t>(-k63)), INT64_MIN);
    EXPECT_EQ((saturate_to_int<Float16, std::int16_t>(32768.0f)), 32767);
    EXPECT_EQ((saturate_to_int<Float16, std::int32_t>(INFINITY)), INT32_MAX);
    EXPECT_EQ((saturate_to_int<Float16, std::int64_t>(-INFINITY)), INT64_MIN);
    EXPECT_EQ((saturate_to_int<double, std::uint8_t>(-0.0)), 0);
    EXPECT_EQ((saturate_to_int<double, std::int8_t>(kNaN)), 0);
    EXPECT_EQ((saturate_to_int<double, std::int8_t>(-5.0)), -5);
}

TEST(FloatToInt, UpperBoundsThatRoundUpConvertToTheMaximum) {
    EXPECT_EQ((cast<float, std::int32_t>({2147483648.0, 2147483520.0, -2147483648.0}, RM::NearestEven, kChecked).out),
              (std::vector<std::int32_t>{INT32_MAX, 2147483520, INT32_MIN}));
    EXPECT_EQ((cast<float, std::uint32_t>({4294967296.0, 4294967040.0}, RM::NearestEven, kChecked).out),
              (std::vector<std::uint32_t>{UINT32_MAX, 4294967040u}));
    EXPECT_EQ((cast<double, std::int64_t>({k63, 9223372036854774784.0, -k63}, RM::NearestEven, kChecked).out),
              (std::vector<std::int64_t>{INT64_MAX, 9223372036854774784, INT64_MIN}));
    EXPECT_EQ((cast<double, std::uint64_t>({k64, 18446744073709549568.0}, RM::NearestEven, kChecked).out),
              (std::vector<std::uint64_t>{UINT64_MAX, 18446744073709549568ull}));
    EXPECT_EQ((cast<float, std::int64_t>({k63}, RM::NearestEven, kChecked).out), (std::vector<std::int64_t>{INT64_MAX}));
    EXPECT_EQ((cast<Float16, std::int16_t>({32768, -32768}, RM::NearestEven, kChecked).out),
              (std::vector<std::int16_t>{32767, -32768}));
    EXPECT_EQ((cast<Float16, std::uint16_t>({kInf, 65504}, RM::NearestEven, kChecked).out),
              (std::vector<std::uint16_t>{65535, 65504}));
    EXPECT_EQ((cast<Float16, std::int32_t>({kInf, -kInf, -65504}, RM::NearestEven, kChecked).out),
              (std::vector<std::int32_t>{INT32_MAX, INT32_MIN, -65504}));
    EXPECT_EQ((cast<Float16, std::uint64_t>({kInf}, RM::TowardsZero, kChecked).out),
              (std::vector<std::uint64_t>{UINT64_MAX}));
    EXPECT_EQ((cast<Float16, std::int64_t>({-kInf}, RM::NearestAway, kChecked).out),
              (std::vector<std::int64_t>{INT64_MIN}));
}

TEST(FloatToInt, RoundingModes) {
    struct Case {
        double x;
        std::int32_t even, zero, up, down, away;
    };
    const Case cases[] = {
        {2.5, 2, 2, 3, 2, 3},      {3.5, 4, 3, 4, 3, 4},      {-2.5, -2, -2, -2, -3, -3},
        {0.5, 0, 0, 1, 0, 1},      {-0.5, 0, 0, 0, -1, -1},   {2.4, 2, 2, 3, 2, 2},
        {2.7, 3, 2, 3, 2, 3},      {-2.7, -3, -2, -2, -3, -3}, {-2.2, -2, -2, -2, -3, -2},
        {1e-300, 0, 0, 1, 0, 0},   {7.0, 7, 7, 7, 7, 7},
    };
    for (const Case& c : cases) {
        EXPECT_EQ((cast_one<double, std::int32_t>(c.x, RM::NearestEven, kChecked)), c.even) << c.x;
        EXPECT_EQ((cast_one<double, std::int32_t>(c.x, RM::TowardsZero, kChecked)), c.zero) << c.x;
        EXPECT_EQ((cast_one<double, std::int32_t>(c.x, RM::TowardsPositive, kChecked)), c.up) << c.x;
        EXPECT_EQ((cast_one<double, std::int32_t>(c.x, RM::TowardsNegative, kChecked)), c.down) << c.x;
        EXPECT_EQ((cast_one<double, std::int32_t>(c.x, RM::NearestAway, kChecked)), c.away) << c.x;
        // The same through float32 and binary16, which hold every one of these inputs.
        EXPECT_EQ((cast_one<float, std::int32_t>(c.x, RM::NearestAway, kChecked)), c.away) << c.x;
        if (std::fabs(c.x) > 1e-7) {
            EXPECT_EQ((cast_one<Float16, std::int32_t>(c.x, RM::NearestAway, kChecked)), c.away) << c.x;
            EXPECT_EQ((cast_one<Float16, std::int32_t>(c.x, RM::NearestEven, kChecked)), c.even) << c.x;
        }
    }
}

TEST(FloatToInt, NearestAwayRoundsOnlyTrueTies) {
    // floor(|x| + 0.5) would round the sum and move all of these.
    EXPECT_EQ((cast_one<float, std::int32_t>(0.49999997f, RM::NearestAway, kChecked)), 0);
    EXPECT_EQ((cast_one<float, std::int32_t>(-0.49999997f, RM::NearestAway, kChecked)), 0);
    EXPECT_EQ((cast_one<float, std::int32_t>(8388609.0f, RM::NearestAway, kChecked)), 8388609);
    EXPECT_EQ((cast_one<float, std::int32_t>(16777215.0f, RM::NearestAway, kChecked)), 16777215);
    EXPECT_EQ((cast_one<double, std::int64_t>(0.49999999999999994, RM::NearestAway, kChecked)), 0);
    EXPECT_EQ((cast_one<double, std::int64_t>(4503599627370497.0, RM::NearestAway, kChecked)), 4503599627370497);
    EXPECT_EQ((cast_one<Float16, std::int8_t>(0.49975586, RM::NearestAway, kChecked)), 0);
    EXPECT_EQ((cast_one<Float16, std::int8_t>(2.5, RM::NearestAway, kChecked)), 3);
}

TEST(FloatToInt, CheckedReportsRoundedValueAndTargetRange) {
    auto ok = cast<double, std::uint8_t>({0.5, 1.5, 2.5, 255.4, -0.4}, RM::NearestEven, kChecked);
    ASSERT_TRUE(ok.result.ok());
    EXPECT_EQ(ok.out, (std::vector<std::uint8_t>{0, 2, 2, 255, 0}));
    EXPECT_EQ((cast<double, std::uint8_t>({-0.9, 255.9}, RM::TowardsZero, kChecked).out),
              (std::vector<std::uint8_t>{0, 255}));

    struct Case {
        CastError error;
        std::string message;
    };
    const Case cases[] = {
        {cast_error<double, std::uint8_t>(255.5, RM::NearestEven, kChecked),
         "Value 256 out of range [0, 255]. Set out_of_range='clamp' or out_of_range='wrap' to handle this."},
        {cast_error<double, std::uint8_t>(-0.6, RM::NearestEven, kChecked),
         "Value -1 out of range [0, 255]. Set out_of_range='clamp' or out_of_range='wrap' to handle this."},
        {cast_error<double, std::int8_t>(kInf, RM::NearestEven, kChecked),
         "Value inf out of range [-128, 127]. Set out_of_range='clamp' or out_of_range='wrap' to handle this."},
        {cast_error<double, std::int8_t>(kNaN, RM::NearestEven, kChecked),
         "Cannot cast NaN to integer type without scalar_map"},
        {cast_error<float, std::int32_t>(-std::nanf(""), RM::TowardsZero, kClamp),
         "Cannot cast NaN to integer type without scalar_map"},
        {cast_error<Float16, std::uint16_t>(kNaN, RM::NearestEven, kWrap),
         "Cannot cast NaN to integer type without scalar_map"},
        // float32 holds 2^31 as its upper bound, so only values beyond it fail.
        {cast_error<float, std::int32_t>(3e9, RM::NearestEven, kChecked),
         "Value 3000000000 out of range [-2147483648, 2147483648]. Set out_of_range='clamp' or "
         "out_of_range='wrap' to handle this."},
        {cast_error<float, std::int32_t>(-2147483904.0, RM::NearestEven, kChecked),
         "Value -2147483904 out of range [-2147483648, 2147483648]. Set out_of_range='clamp' or "
         "out_of_range='wrap' to handle this."},
        {cast_error<float, std::uint32_t>(-0.7, RM::TowardsNegative, kChecked),
         "Value -1 out of range [0, 4294967296]. Set out_of_range='clamp' or out_of_range='wrap' to handle this."},
        {cast_error<double, std::int64_t>(9223372036854777856.0, RM::NearestEven, kChecked),
         "Value 9223372036854778000 out of range [-9223372036854776000, 9223372036854776000]. Set "
         "out_of_range='clamp' or out_of_range='wrap' to handle this."},
        {cast_error<double, std::uint64_t>(18446744073709555712.0, RM::NearestEven, kChecked),
         "Value 18446744073709556000 out of range [0, 18446744073709552000]. Set out_of_range='clamp' or "
         "out_of_range='wrap' to handle this."},
        {cast_error<Float16, std::int16_t>(32800, RM::NearestEven, kChecked),
         "Value 32800 out of range [-32768, 32768]. Set out_of_range='clamp' or out_of_range='wrap' to handle "
         "this."},
        {cast_error<Float16, std::uint16_t>(-1, RM::NearestEven, kChecked),
         "Value -1 out of range [0, inf]. Set out_of_range='clamp' or out_of_range='wrap' to handle this."},
        {cast_error<Float16, std::uint32_t>(-0.25, RM::TowardsNegative, kChecked),
         "Value -1 out of range [0, inf]. Set out_of_range='clamp' or out_of_range='wrap' to handle this."},
        {cast_error<Float16, std::uint64_t>(-kInf, RM::NearestEven, kChecked),
         "Value -inf out of range [0, inf]. Set out_of_range='clamp' or out_of_range='wrap' to handle this."},
        // Nearest-away never reaches the vector kernel: the element loop reports the rounded value.
        {cast_error<double, std::int32_t>(2147483647.6, RM::NearestAway, kChecked),
         "Value 2147483648 out of range [-2147483648, 2147483647]. Set out_of_range='clamp' or "
         "out_of_range='wrap' to handle this."},
    };
    for (const Case& c : cases) EXPECT_EQ(c.error.message(), c.message);

    EXPECT_EQ((cast_one<double, std::int32_t>(2147483647.4, RM::NearestEven, kChecked)), 2147483647);
    EXPECT_EQ((cast_one<double, std::int32_t>(-2147483648.4, RM::TowardsZero, kChecked)), INT32_MIN);
    EXPECT_FALSE((cast<double, std::int32_t>({-2147483648.4}, RM::TowardsNegative, kChecked).result.ok()));
}

TEST(FloatToInt, ClampSaturatesEveryValueButNaN) {
    EXPECT_EQ((cast<double, std::int8_t>({300.7, -1e10, kInf, -kInf, -128.4, 5.5}, RM::NearestEven, kClamp).out),
              (std::vector<std::int8_t>{127, -128, 127, -128, -128, 6}));
    EXPECT_EQ((cast<float, std::int32_t>({3e9, -3e9, 2147483648.0, 2147483520.0}, RM::NearestEven, kClamp).out),
              (std::vector<std::int32_t>{INT32_MAX, INT32_MIN, INT32_MAX, 2147483520}));
    EXPECT_EQ((cast<float, std::uint64_t>({1e30, -1.0, 3e38}, RM::TowardsPositive, kClamp).out),
              (std::vector<std::uint64_t>{UINT64_MAX, 0, UINT64_MAX}));
    EXPECT_EQ((cast<Float16, std::int64_t>({kInf, -kInf, 65504}, RM::NearestEven, kClamp).out),
              (std::vector<std::int64_t>{INT64_MAX, INT64_MIN, 65504}));
    EXPECT_EQ((cast<Float16, std::int16_t>({32768, -32768, 40000}, RM::NearestEven, kClamp).out),
              (std::vector<std::int16_t>{32767, -32768, 32767}));
    EXPECT_EQ((cast<double, std::int32_t>({-2147483648.5, 2147483647.5, 1e300, -kInf}, RM::TowardsNegative, kClamp).out),
              (std::vector<std::int32_t>{INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN}));
    EXPECT_EQ((cast<float, std::uint8_t>({-3.7, 0.5, 1.5, 254.5, 255.5, 300.0, kInf, -kInf}, RM::NearestEven, kClamp).out),
              (std::vector<std::uint8_t>{0, 0, 2, 254, 255, 255, 255, 0}));
    EXPECT_EQ((cast<float, std::uint8_t>({-3.7, 0.5, 1.5, 254.5, 255.5, 300.0, kInf, -kInf}, RM::TowardsPositive, kClamp).out),
              (std::vector<std::uint8_t>{0, 1, 2, 255, 255, 255, 255, 0}));
}

TEST(FloatToInt, WrapIsComputedInTheSourceType) {
    EXPECT_EQ((cast<double, std::int8_t>({200, -129, 127, -0.4, 300.5}, RM::NearestEven, kWrap).out),
              (std::vector<std::int8_t>{-56, 127, 127, 0, 44}));
    EXPECT_EQ((cast<double, std::uint8_t>({300, -1, 255}, RM::NearestEven, kWrap).out),
              (std::vector<std::uint8_t>{44, 255, 255}));
    EXPECT_EQ((cast<Float16, std::int8_t>({200, -129}, RM::NearestEven, kWrap).out), (std::vector<std::int8_t>{-56, 127}));
    // Beyond the source's integer precision the steps round: -200 + 2^32 is
    // not a float32, and a small negative remainder plus the modulus rounds
    // up to the modulus, which saturates to the maximum.
    EXPECT_EQ((cast<float, std::uint32_t>({5000000000.0, -1, -200, 4294967296.0}, RM::NearestEven, kWrap).out),
              (std::vector<std::uint32_t>{705032704, 4294967295u, 4294967040u, 4294967295u}));
    EXPECT_EQ((cast<double, std::uint32_t>({-200, -1, 5000000000.0}, RM::NearestEven, kWrap).out),
              (std::vector<std::uint32_t>{4294967096u, 4294967295u, 705032704}));
    EXPECT_EQ((cast<double, std::uint64_t>({-1, -2, -4096, 1e20}, RM::NearestEven, kWrap).out),
              (std::vector<std::uint64_t>{UINT64_MAX, UINT64_MAX, 18446744073709547520ull, 7766279631452241920ull}));
    // 2^63 + 2048 - L is a float64 tie that rounds to 2^64 and wraps to L itself.
    EXPECT_EQ((cast<double, std::int64_t>({k63, k63 + 2048, k63 + 4096, -k63 - 2048}, RM::NearestEven, kWrap).out),
              (std::vector<std::int64_t>{INT64_MAX, INT64_MIN, -9223372036854771712, 9223372036854773760}));
    // binary16 to int16 has an infinite modulus: above the range the
    // remainder is NaN (stored as 0), below it the correction is +infinity.
    EXPECT_EQ((cast<Float16, std::int16_t>({32800, -32800, 32768, 1000, 65504, -65504}, RM::NearestEven, kWrap).out),
              (std::vector<std::int16_t>{0, 32767, 32767, 1000, 0, 32767}));
    EXPECT_EQ((cast<Float16, std::uint16_t>({-1, -2, 65504, 3.5}, RM::NearestEven, kWrap).out),
              (std::vector<std::uint16_t>{65535, 65535, 65504, 4}));
    EXPECT_EQ((cast<Float16, std::uint64_t>({-1, 60000}, RM::NearestEven, kWrap).out),
              (std::vector<std::uint64_t>{UINT64_MAX, 60000}));
    // Large magnitudes are multiples of the modulus.
    EXPECT_EQ((cast<float, std::uint8_t>({3e38, -3e38}, RM::NearestEven, kWrap).out), (std::vector<std::uint8_t>{0, 0}));
    // 1e300 + 2^31 rounds back to 1e300, a multiple of 2^32, so the sum lands on the lower end.
    EXPECT_EQ((cast<double, std::int32_t>({1e300}, RM::NearestEven, kWrap).out), (std::vector<std::int32_t>{INT32_MIN}));

    const struct {
        CastError error;
        CastError expect;
    } infinities[] = {
        {cast_error<double, std::int8_t>(kInf, RM::NearestEven, kWrap), CastError::not_castable(kInf)},
        {cast_error<Float16, std::int32_t>(-kInf, RM::NearestEven, kWrap), CastError::not_castable(-kInf)},
        {cast_error<Float16, std::int32_t>(kInf, RM::TowardsZero, kWrap), CastError::not_castable(kInf)},
        {cast_error<Float16, std::uint16_t>(kInf, RM::NearestEven, kWrap), CastError::not_castable(kInf)},
        {cast_error<float, std::uint64_t>(-kInf, RM::NearestAway, kWrap), CastError::not_castable(-kInf)},
    };
    for (const auto& c : infinities) EXPECT_EQ(c.error, c.expect);
    EXPECT_EQ(infinities[0].error.message(), "Cannot cast inf to integer type without scalar_map");
    EXPECT_EQ(infinities[1].error.message(), "Cannot cast -inf to integer type without scalar_map");
}

using Wide = __int128;

// v rounded to `digits` significant bits, to nearest with ties to even,
// worked out on the integer itself.
Wide round_to_digits(Wide v, int digits) {
    using Mag = unsigned __int128;
    const bool negative = v < 0;
    const Mag mag = negative ? Mag{0} - static_cast<Mag>(v) : static_cast<Mag>(v);
    int length = 0;
    for (Mag m = mag; m != 0; m >>= 1) ++length;
    if (length <= digits) return v;
    const int shift = length - digits;
    Mag kept = mag >> shift;
    const Mag rest = mag & ((Mag{1} << shift) - 1);
    const Mag half = Mag{1} << (shift - 1);
    if (rest > half || (rest == half && (kept & 1))) ++kept;
    const auto rounded = static_cast<Wide>(kept << shift);
    return negative ? -rounded : rounded;
}

// The wrap of an integral r step by step on exact integers, every
// intermediate rounded to F's precision as F's own arithmetic would.
template <class F, class I>
I wrap_oracle(double r) {
    constexpr int digits = std::numeric_limits<F>::digits;
    const Wide min = std::numeric_limits<I>::min();
    const Wide max = std::numeric_limits<I>::max();
    const Wide lo = round_to_digits(min, digits);
    const Wide hi = round_to_digits(max, digits);
    const Wide modulus = round_to_digits(round_to_digits(hi - lo, digits) + 1, digits);
    auto w = static_cast<Wide>(r);
    if (w < lo || w > hi) {
        Wide remainder = round_to_digits(w - lo, digits) % modulus;  // truncating, like fmod
        if (remainder < 0) remainder = round_to_digits(remainder + modulus, digits);
        w = round_to_digits(remainder + lo, digits);
    }
    if (w > max) return std::numeric_limits<I>::max();
    if (w < min) return std::numeric_limits<I>::min();
    return static_cast<I>(w);
}

template <class F, class I>
void expect_wrap_matches_oracle(const std::vector<double>& values) {
    auto run = cast<F, I>(values, RM::TowardsZero, kWrap);
    ASSERT_TRUE(run.result.ok());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(run.out[i], (wrap_oracle<F, I>(values[i]))) << values[i];
    }
}

TEST(FloatToInt, WrapMatchesOracleOnRandomValues) {
    std::mt19937_64 rng(17);
    std::vector<double> values{-1, -2, -200, -4096, 255, 256, 65535, 65536, -32769};
    for (int i = 0; i < 4000; ++i) {
        // Integral values up to 2^80, many beyond the integer precision of both source types.
        const int exponent = static_cast<int>(rng() % 80);
        double v = std::ldexp(static_cast<double>(rng() >> 11), exponent - 53);
        v = std::trunc(v);
        values.push_back(rng() % 2 ? -v : v);
    }
    expect_wrap_matches_oracle<double, std::uint64_t>(values);
    expect_wrap_matches_oracle<double, std::int64_t>(values);
    expect_wrap_matches_oracle<double, std::uint32_t>(values);
    expect_wrap_matches_oracle<double, std::int16_t>(values);
    expect_wrap_matches_oracle<double, std::uint8_t>(values);

    std::vector<double> singles;
    for (double v : values) singles.push_back(static_cast<float>(v));  // integral values stay integral
    expect_wrap_matches_oracle<float, std::uint64_t>(singles);
    expect_wrap_matches_oracle<float, std::uint32_t>(singles);
    expect_wrap_matches_oracle<float, std::int32_t>(singles);
    expect_wrap_matches_oracle<float, std::int16_t>(singles);
}

TEST(FloatToInt, ScalarMapComesFirst) {
    using Map = ScalarMap<float, std::uint8_t>;
    const float nan = std::nanf("");
    auto nan_map = cast<float, std::uint8_t>({kNaN, -kNaN, 1.0}, RM::NearestEven, kChecked, Map{{nan, 0}});
    ASSERT_TRUE(nan_map.result.ok());
    EXPECT_EQ(nan_map.out, (std::vector<std::uint8_t>{0, 0, 1}));
    EXPECT_EQ((cast<float, std::uint8_t>({0.0, -0.0}, RM::NearestEven, kChecked, Map{{0.0f, 7}}).out),
              (std::vector<std::uint8_t>{7, 7}));
    EXPECT_EQ((cast<float, std::uint8_t>({3.0}, RM::NearestEven, kChecked, Map{{3.0f, 10}, {3.0f, 20}}).out),
              (std::vector<std::uint8_t>{10}));
    EXPECT_EQ((cast<float, std::uint8_t>({2.5, 2.4}, RM::NearestEven, kChecked, Map{{2.5f, 9}}).out),
              (std::vector<std::uint8_t>{9, 2}));

    auto mapped = cast<float, std::uint8_t>({-1.0, -1.2}, RM::NearestEven, kChecked, Map{{-1.0f, 200}, {nan, 3}});
    EXPECT_EQ(mapped.result.error(), CastError::out_of_range(-1, 0, 255));
    EXPECT_EQ(mapped.out, (std::vector<std::uint8_t>{200, static_cast<std::uint8_t>(kFill)}));

    auto wrap_inf = cast<Float16, std::int16_t>({kInf, -kInf}, RM::NearestEven, kWrap,
                                                ScalarMap<Float16, std::int16_t>{{h(INFINITY), 5}});
    EXPECT_EQ(wrap_inf.result.error(), CastError::not_castable(-kInf));
    EXPECT_EQ(wrap_inf.out[0], 5);
}

TEST(FloatToInt, StopsAtFirstFailureLeavingTheRestUntouched) {
    auto checked = cast<double, std::uint8_t>({1.0, 300.0, 2.0}, RM::NearestEven, kChecked);
    EXPECT_EQ(checked.result.error(), CastError::out_of_range(300, 0, 255));
    EXPECT_EQ(checked.out, (std::vector<std::uint8_t>{1, 99, 99}));

    auto wrap = cast<float, std::int16_t>({1.0, 70000.0, kInf, 2.0}, RM::NearestEven, kWrap);
    EXPECT_EQ(wrap.result.error(), CastError::not_castable(kInf));
    EXPECT_EQ(wrap.out, (std::vector<std::int16_t>{1, 4464, 99, 99}));

    auto clamp = cast<Float16, std::uint32_t>({1.0, 1e6, kNaN, 2.0}, RM::NearestEven, kClamp);
    EXPECT_EQ(clamp.result.error().kind, CastError::Kind::NotCastable);
    EXPECT_EQ(clamp.out, (std::vector<std::uint32_t>{1, UINT32_MAX, 99, 99}));
}

TEST(FloatToInt, ProcessesTheShorterOfBothRuns) {
    EXPECT_EQ((cast<double, std::int64_t>({1, 2, 3, 4, 5}, RM::NearestEven, kChecked, {}, 3).out),
              (std::vector<std::int64_t>{1, 2, 3}));
    EXPECT_EQ((cast<double, std::int32_t>({1, 2, 3}, RM::NearestEven, kClamp, {}, 5).out),
              (std::vector<std::int32_t>{1, 2, 3, 99, 99}));
    EXPECT_TRUE((cast<float, std::int8_t>({}, RM::NearestEven, kChecked).result.ok()));
}

TEST(FloatToInt, InPlaceOnTheSameBuffer) {
    std::vector<float> buf{-1.5f, 2.5f, 3e9f, 7.0f};
    auto* out = reinterpret_cast<std::int32_t*>(buf.data());
    CastConfig<float, std::int32_t> config{RM::NearestAway, kClamp, {}};
    ASSERT_TRUE((convert_slice_float_to_int<float, std::int32_t>(std::span<const float>(buf),
                                                                 std::span<std::int32_t>(out, buf.size()), config)
                     .ok()));
    EXPECT_EQ(std::vector<std::int32_t>(out, out + 4), (std::vector<std::int32_t>{-2, 3, INT32_MAX, 7}));

    std::vector<Float16> halves{h(-2.0f), h(40000.0f), h(3.5f)};
    auto* words = reinterpret_cast<std::uint16_t*>(halves.data());
    CastConfig<Float16, std::uint16_t> wrap{RM::NearestEven, kWrap, {}};
    ASSERT_TRUE((convert_slice_float_to_int<Float16, std::uint16_t>(std::span<const Float16>(halves),
                                                                    std::span<std::uint16_t>(words, 3), wrap)
                     .ok()));
    EXPECT_EQ(std::vector<std::uint16_t>(words, words + 3), (std::vector<std::uint16_t>{65535, 40000, 4}));
}

// A map entry that matches nothing forces the element loop, so the kernels'
// output can be compared with it.
template <class F, class I>
void expect_kernel_matches_element_loop(const std::vector<double>& values, OptionalOutOfRange range) {
    const F never = static_cast<F>(-123456.75);
    for (RM mode : {RM::NearestEven, RM::TowardsZero, RM::TowardsPositive, RM::TowardsNegative}) {
        auto fast = cast<F, I>(values, mode, range);
        auto loop = cast<F, I>(values, mode, range, ScalarMap<F, I>{{never, I{0}}});
        ASSERT_TRUE(fast.result.ok());
        ASSERT_TRUE(loop.result.ok());
        EXPECT_EQ(fast.out, loop.out) << static_cast<int>(mode);
    }
}

TEST(FloatToInt, KernelsAgreeWithTheElementLoop) {
    std::mt19937_64 rng(5);
    std::vector<double> wide, narrow;
    for (int i = 0; i < 1001; ++i) {
        // Halves give ties; the spread reaches beyond both ends of uint8 and int32.
        wide.push_back(static_cast<double>(static_cast<std::int64_t>(rng() % 12000000000ull) - 6000000000ll) / 2);
        narrow.push_back(static_cast<double>(static_cast<int>(rng() % 1200) - 400) / 2 + (i % 7 == 0 ? 0.3 : 0.0));
    }
    narrow.push_back(kInf);
    narrow.push_back(-kInf);
    wide.push_back(kInf);
    expect_kernel_matches_element_loop<float, std::uint8_t>(narrow, kClamp);
    expect_kernel_matches_element_loop<double, std::uint8_t>(narrow, kClamp);
    expect_kernel_matches_element_loop<double, std::int32_t>(wide, kClamp);

    std::vector<double> in_range;
    for (double v : wide) {
        if (std::fabs(v) < 2e9) in_range.push_back(v);
    }
    expect_kernel_matches_element_loop<double, std::int32_t>(in_range, kChecked);
}

TEST(FloatToInt, KernelPathsReportTheFirstFailure) {
    std::vector<double> values(40, 1.5);
    values[20] = kNaN;
    auto clamp = cast<double, std::uint8_t>(values, RM::NearestEven, kClamp);
    EXPECT_EQ(clamp.result.error().kind, CastError::Kind::NotCastable);
    for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(clamp.out[i], 2) << i;
    for (std::size_t i = 20; i < 40; ++i) EXPECT_EQ(clamp.out[i], kFill) << i;

    // The check kernel runs wherever AVX is usable and reports the value
    // before rounding; the element loop reports the rounded one.
    const bool kernel_runs = cpu_features().avx;
    auto check = cast<double, std::int32_t>({1.0, 2147483647.5}, RM::NearestEven, kChecked);
    ASSERT_FALSE(check.result.ok());
    EXPECT_EQ(check.result.error(),
              CastError::out_of_range(kernel_runs ? 2147483647.5 : 2147483648.0, -2147483648.0, 2147483647.0));
    EXPECT_EQ(check.out[1], kFill);

    EXPECT_EQ((cast_error<double, std::int32_t>(2147483647.6, RM::NearestEven, kChecked).message()),
              kernel_runs ? "Value 2147483647.6 out of range [-2147483648, 2147483647]. Set out_of_range='clamp' or "
                            "out_of_range='wrap' to handle this."
                          : "Value 2147483648 out of range [-2147483648, 2147483647]. Set out_of_range='clamp' or "
                            "out_of_range='wrap' to handle this.");
    // A map entry keeps the run in the element loop, whatever the processor.
    auto mapped = cast<double, std::int32_t>({1.0, 2147483647.6}, RM::NearestEven, kChecked,
                                             ScalarMap<double, std::int32_t>{{-5.0, 0}});
    EXPECT_EQ(mapped.result.error(), CastError::out_of_range(2147483648.0, -2147483648.0, 2147483647.0));
    EXPECT_EQ(mapped.out, (std::vector<std::int32_t>{1, static_cast<std::int32_t>(kFill)}));
}

}  // namespace
}  // namespace quellon
