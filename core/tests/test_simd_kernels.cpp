#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "cast_float.h"
#include "simd_tier_harness.h"

namespace quellon {
namespace {

using simd_test::Expected;
using simd_test::Tier;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kI32Lo = -2147483648.0;
constexpr double kI32Hi = 2147483647.0;
constexpr double kF32Max = std::numeric_limits<float>::max();

constexpr RoundingMode kModes[] = {RoundingMode::NearestEven, RoundingMode::TowardsZero,
                                   RoundingMode::TowardsPositive, RoundingMode::TowardsNegative,
                                   RoundingMode::NearestAway};
constexpr std::size_t kLengths[] = {0, 1, 3, 4, 5, 15, 16, 17, 100};

using F32ToU8 = Tier<float, std::uint8_t, RoundingMode>;
using F64ToU8 = Tier<double, std::uint8_t, RoundingMode>;
using F64ToI32 = Tier<double, std::int32_t, RoundingMode>;
using F64ToF32 = Tier<double, float, bool>;

const std::vector<F32ToU8> kF32ToU8Tiers = {
    {"avx2", KernelTier::Avx2, simd::avx2::f32_to_u8_clamp, 16},
    {"avx", KernelTier::Avx, simd::avx::f32_to_u8_clamp, 8},
    {"generic", KernelTier::Generic, simd::generic::f32_to_u8_clamp, 1},
};
const std::vector<F64ToU8> kF64ToU8Tiers = {
    {"avx2", KernelTier::Avx2, simd::avx2::f64_to_u8_clamp, 16},
    {"avx", KernelTier::Avx, simd::avx::f64_to_u8_clamp, 4},
    {"generic", KernelTier::Generic, simd::generic::f64_to_u8_clamp, 1},
};
const std::vector<F64ToI32> kI32ClampTiers = {
    {"avx2", KernelTier::Avx2, simd::avx2::f64_to_i32_clamp, 4},
    {"avx", KernelTier::Avx, simd::avx::f64_to_i32_clamp, 4},
    {"generic", KernelTier::Generic, simd::generic::f64_to_i32_clamp, 1},
};
const std::vector<F64ToI32> kI32CheckTiers = {
    {"avx2", KernelTier::Avx2, simd::avx2::f64_to_i32_check, 4},
    {"avx", KernelTier::Avx, simd::avx::f64_to_i32_check, 4},
};
const std::vector<F64ToF32> kF64ToF32Tiers = {
    {"avx2", KernelTier::Avx2, simd::avx2::f64_to_f32_nearest, 0},
    {"avx", KernelTier::Avx, simd::avx::f64_to_f32_nearest, 0},
};

// Scalar models, written from the per-element rules.

template <class T, class F>
Expected<T> clamp_model(const std::vector<F>& src, RoundingMode mode) {
    constexpr F lo = static_cast<F>(std::numeric_limits<T>::min());
    constexpr F hi = static_cast<F>(std::numeric_limits<T>::max());
    Expected<T> e;
    e.values.resize(src.size());
    for (std::size_t i = 0; i < src.size(); ++i) {
        if (std::isnan(src[i])) {
            if (!e.fail) {
                e.fail = i;
                e.error = CastError::not_castable(static_cast<double>(src[i]));
            }
            continue;
        }
        e.values[i] = static_cast<T>(std::clamp(CastFloat<F>::round_with_mode(src[i], mode), lo, hi));
    }
    return e;
}

bool check_fails(double v, RoundingMode mode) {
    if (std::isnan(v)) return true;
    const double r = CastFloat<double>::round_with_mode(v, mode);
    return r < kI32Lo || r > kI32Hi;
}

CastError check_error(double v) {
    return std::isnan(v) ? CastError::not_castable(v) : CastError::out_of_range(v, kI32Lo, kI32Hi);
}

// Within a stored block a NaN is reported before any out-of-range value,
// and the out-of-range value is the source before rounding.
Expected<std::int32_t> check_model(const std::vector<double>& src, RoundingMode mode, std::size_t block) {
    Expected<std::int32_t> e;
    e.values.resize(src.size());
    for (std::size_t i = 0; i < src.size(); ++i) {
        if (!check_fails(src[i], mode)) {
            e.values[i] = static_cast<std::int32_t>(CastFloat<double>::round_with_mode(src[i], mode));
        } else if (!e.fail) {
            e.fail = i;
        }
    }
    if (!e.fail) return e;
    const std::size_t fail = *e.fail;
    e.error = check_error(src[fail]);
    const std::size_t blocked = src.size() - src.size() % block;
    if (fail < blocked) {
        const std::size_t begin = fail - fail % block;
        for (std::size_t k = begin; k < begin + block; ++k) {
            if (std::isnan(src[k])) {
                e.error = CastError::not_castable(src[k]);
                break;
            }
        }
    }
    return e;
}

Expected<float> f32_model(const std::vector<double>& src, bool check) {
    Expected<float> e;
    for (std::size_t i = 0; i < src.size(); ++i) {
        const float v = static_cast<float>(src[i]);
        e.values.push_back(v);
        if (check && !e.fail && std::isfinite(src[i]) && std::isinf(v)) {
            e.fail = i;
            e.error = CastError::out_of_range(src[i], -kF32Max, kF32Max);
        }
    }
    return e;
}

// Sources: random values mixed with the values that matter.

class Source {
public:
    explicit Source(unsigned seed) : rng_(seed) {}

    // Around [0, 255]: ties, bounds, beyond-range values and infinities.
    std::vector<double> u8_values(std::size_t n) {
        static const double special[] = {-3.7, 0.5, 1.5, 2.5, 254.5, 255.5, 255.0, 256.0, 300.0, -0.0, 0.0,
                                         -0.5, -1.0, kInf, -kInf, 1e30, -1e30, 254.49, 0.49999997, 127.5};
        return mixed(n, special, [&] {
            std::uniform_int_distribution<int> whole(-20, 280);
            std::uniform_int_distribution<int> quarter(0, 3);
            return whole(rng_) + 0.25 * quarter(rng_) + (coin() ? 0.0 : 0.1);
        });
    }

    // Around the int32 bounds; `in_range` keeps every rounded value inside.
    std::vector<double> i32_values(std::size_t n, bool in_range) {
        static const double wide[] = {2147483647.5, -2147483648.5, -2147483648.4, -2147483648.6, 2147483648.0,
                                      -2147483649.0, 3e9, -3e9, 1e300, -1e300, kInf, -kInf};
        static const double inside[] = {kI32Hi, kI32Lo, 2147483646.5, -2147483647.5, 0.5, -0.5, 1.5, -0.0, 2.5};
        std::vector<double> v = mixed(n, inside, [&] {
            std::uniform_real_distribution<double> d(in_range ? kI32Lo : -3e9, in_range ? kI32Hi : 3e9);
            return coin() ? d(rng_) : std::floor(d(rng_) / 1e6) + 0.5;
        });
        if (!in_range) sprinkle(v, wide);
        return v;
    }

    // Magnitudes across the binary32 range, beyond it and into its subnormals.
    std::vector<double> f32_values(std::size_t n) {
        static const double special[] = {1e39, -1e39, 3.4028235677973366e38, 3.4028235677973362e38, kF32Max,
                                         1e-40, 1e-46, -1e-46, kInf, -kInf, kNaN, -0.0};
        return mixed(n, special, [&] {
            std::uniform_int_distribution<int> exponent(-160, 140);
            std::uniform_real_distribution<double> m(1.0, 2.0);
            return std::ldexp(coin() ? m(rng_) : -m(rng_), exponent(rng_));
        });
    }

    std::size_t index(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

private:
    bool coin() { return rng_() & 1u; }

    template <std::size_t N, class Gen>
    std::vector<double> mixed(std::size_t n, const double (&special)[N], Gen&& gen) {
        std::vector<double> v(n);
        for (double& x : v) x = rng_() % 4 == 0 ? special[rng_() % N] : gen();
        return v;
    }

    template <std::size_t N>
    void sprinkle(std::vector<double>& v, const double (&special)[N]) {
        for (double& x : v) {
            if (rng_() % 8 == 0) x = special[rng_() % N];
        }
    }

    std::mt19937_64 rng_;
};

std::vector<float> to_f32(const std::vector<double>& v) { return {v.begin(), v.end()}; }

std::vector<double> without_overflow(std::vector<double> v) {
    for (double& x : v) {
        if (std::isfinite(x) && std::isinf(static_cast<float>(x))) x = 1.0;
    }
    return v;
}

template <class F>
std::vector<F> without_nan(std::vector<F> v) {
    for (F& x : v) {
        if (std::isnan(x)) x = F(7.25);
    }
    return v;
}

std::string mode_label(RoundingMode mode) { return std::string(rounding_mode_text(mode)); }

// One test fixture per tier; a tier the processor lacks is skipped.

class KernelTiers : public ::testing::TestWithParam<KernelTier> {
protected:
    void SetUp() override {
        if (!simd_test::tier_available(GetParam())) GTEST_SKIP() << "this processor lacks the tier";
    }

    template <class S, class T, class P>
    const Tier<S, T, P>* tier(const std::vector<Tier<S, T, P>>& tiers) const {
        for (const auto& t : tiers) {
            if (t.needs == GetParam()) return &t;
        }
        return nullptr;
    }
};

TEST_P(KernelTiers, CleanRunsOfEveryLengthMatchTheModel) {
    Source source(11);
    for (std::size_t n : kLengths) {
        const std::vector<double> u8 = without_nan(source.u8_values(n));
        const std::vector<double> i32_wide = without_nan(source.i32_values(n, false));
        const std::vector<double> i32_inside = source.i32_values(n, true);
        const std::vector<double> f32 = source.f32_values(n);
        for (RoundingMode mode : kModes) {
            const std::string m = mode_label(mode);
            if (auto t = tier(kF32ToU8Tiers)) {
                simd_test::expect_tier_matches(*t, to_f32(u8), mode, clamp_model<std::uint8_t>(to_f32(u8), mode), m);
            }
            if (auto t = tier(kF64ToU8Tiers)) {
                simd_test::expect_tier_matches(*t, u8, mode, clamp_model<std::uint8_t>(u8, mode), m);
            }
            if (auto t = tier(kI32ClampTiers)) {
                simd_test::expect_tier_matches(*t, i32_wide, mode, clamp_model<std::int32_t>(i32_wide, mode), m);
            }
            if (auto t = tier(kI32CheckTiers)) {
                simd_test::expect_tier_matches(*t, i32_inside, mode, check_model(i32_inside, mode, simd_test::store_block(*t, mode)), m);
            }
        }
        if (auto t = tier(kF64ToF32Tiers)) {
            simd_test::expect_tier_matches(*t, f32, false, f32_model(f32, false), "unchecked");
            const std::vector<double> fits = without_overflow(f32);
            simd_test::expect_tier_matches(*t, fits, true, f32_model(fits, true), "checked");
        }
    }
}

// A failure at each index of runs that end in a remainder: the error, and
// the stored prefix (whole blocks before the failing one, or every element
// before it in the remainder).
TEST_P(KernelTiers, FailureAtEveryIndexStoresOnlyWholeBlocksBeforeIt) {
    Source source(23);
    for (std::size_t n : {5u, 17u, 40u}) {
        const std::vector<double> u8 = without_nan(source.u8_values(n));
        const std::vector<double> i32 = source.i32_values(n, true);
        const std::vector<double> f32 = without_overflow(source.f32_values(n));
        for (std::size_t k = 0; k < n; ++k) {
            const std::string at = "failure at " + std::to_string(k);
            for (RoundingMode mode : kModes) {
                std::vector<double> with_nan = u8;
                with_nan[k] = -kNaN;
                if (k + 2 < n) with_nan[k + 2] = kNaN;
                if (auto t = tier(kF32ToU8Tiers)) {
                    simd_test::expect_tier_matches(*t, to_f32(with_nan), mode,
                                                   clamp_model<std::uint8_t>(to_f32(with_nan), mode), at);
                }
                if (auto t = tier(kF64ToU8Tiers)) {
                    simd_test::expect_tier_matches(*t, with_nan, mode, clamp_model<std::uint8_t>(with_nan, mode), at);
                }
                std::vector<double> i32_nan = i32;
                i32_nan[k] = kNaN;
                if (auto t = tier(kI32ClampTiers)) {
                    simd_test::expect_tier_matches(*t, i32_nan, mode, clamp_model<std::int32_t>(i32_nan, mode), at);
                }
                if (auto t = tier(kI32CheckTiers)) {
                    // Out of range at k, with a NaN after it that may share its block.
                    std::vector<double> bad = i32;
                    bad[k] = k % 2 ? 2147483647.5 : -3e9;
                    if (mode == RoundingMode::TowardsZero || mode == RoundingMode::TowardsNegative) bad[k] = 3e9;
                    if (k + 1 < n) bad[k + 1] = kNaN;
                    simd_test::expect_tier_matches(*t, bad, mode, check_model(bad, mode, simd_test::store_block(*t, mode)), at);
                    simd_test::expect_tier_matches(*t, i32_nan, mode, check_model(i32_nan, mode, simd_test::store_block(*t, mode)), at);
                }
            }
            if (auto t = tier(kF64ToF32Tiers)) {
                std::vector<double> over = f32;
                over[k] = k % 2 ? -1e39 : 3.4028235677973366e38;
                simd_test::expect_tier_matches(*t, over, true, f32_model(over, true), at);
                simd_test::expect_tier_matches(*t, over, false, f32_model(over, false), at);
            }
        }
    }
}

TEST_P(KernelTiers, LongRandomRunsWithSpecialValues) {
    Source source(37);
    for (int round = 0; round < 6; ++round) {
        const std::size_t n = 2000 + source.index(2000);
        const bool fail = round % 2 == 1;
        std::vector<double> u8 = without_nan(source.u8_values(n));
        std::vector<double> i32 = without_nan(source.i32_values(n, false));
        std::vector<double> i32_inside = source.i32_values(n, true);
        if (fail) {
            u8[source.index(n)] = kNaN;
            i32[source.index(n)] = kNaN;
            i32_inside[source.index(n)] = 1e10;
        }
        const std::vector<double> f32 = source.f32_values(n);
        for (RoundingMode mode : kModes) {
            const std::string m = mode_label(mode);
            if (auto t = tier(kF32ToU8Tiers)) {
                simd_test::expect_tier_matches(*t, to_f32(u8), mode, clamp_model<std::uint8_t>(to_f32(u8), mode), m);
            }
            if (auto t = tier(kF64ToU8Tiers)) {
                simd_test::expect_tier_matches(*t, u8, mode, clamp_model<std::uint8_t>(u8, mode), m);
            }
            if (auto t = tier(kI32ClampTiers)) {
                simd_test::expect_tier_matches(*t, i32, mode, clamp_model<std::int32_t>(i32, mode), m);
            }
            if (auto t = tier(kI32CheckTiers)) {
                simd_test::expect_tier_matches(*t, i32_inside, mode, check_model(i32_inside, mode, simd_test::store_block(*t, mode)), m);
                simd_test::expect_tier_matches(*t, i32, mode, check_model(i32, mode, simd_test::store_block(*t, mode)), m);
            }
        }
        if (auto t = tier(kF64ToF32Tiers)) {
            simd_test::expect_tier_matches(*t, f32, true, f32_model(f32, true), "checked");
            simd_test::expect_tier_matches(*t, f32, false, f32_model(f32, false), "unchecked");
        }
    }
}

// Literal expectations, independent of the models above.

// Repeated so that the values pass through vector blocks and the remainder.
template <class F>
std::vector<F> repeated(const std::vector<F>& pattern, std::size_t times) {
    std::vector<F> out;
    for (std::size_t i = 0; i < times; ++i) out.insert(out.end(), pattern.begin(), pattern.end());
    return out;
}

TEST_P(KernelTiers, U8ClampValuesPerMode) {
    struct Case {
        RoundingMode mode;
        std::vector<std::uint8_t> want;
    };
    const Case cases[] = {
        {RoundingMode::NearestEven, {0, 0, 2, 254, 255, 255, 255, 0}},
        {RoundingMode::TowardsZero, {0, 0, 1, 254, 255, 255, 255, 0}},
        {RoundingMode::TowardsPositive, {0, 1, 2, 255, 255, 255, 255, 0}},
        {RoundingMode::TowardsNegative, {0, 0, 1, 254, 255, 255, 255, 0}},
    };
    constexpr std::size_t kTimes = 5;  // 40 elements
    const auto f32_src = repeated<float>({-3.7f, 0.5f, 1.5f, 254.5f, 255.5f, 300.0f, INFINITY, -INFINITY}, kTimes);
    const auto f64_src = repeated<double>({-3.7, 0.5, 1.5, 254.5, 255.5, 300.0, kInf, -kInf}, kTimes);
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> want = repeated(c.want, kTimes);
        std::vector<std::uint8_t> out(f32_src.size());
        if (auto t = tier(kF32ToU8Tiers)) {
            ASSERT_TRUE(t->fn(f32_src, out, c.mode).ok());
            EXPECT_EQ(out, want) << mode_label(c.mode);
        }
        if (auto t = tier(kF64ToU8Tiers)) {
            ASSERT_TRUE(t->fn(f64_src, out, c.mode).ok());
            EXPECT_EQ(out, want) << mode_label(c.mode);
        }
    }
}

TEST_P(KernelTiers, I32ClampSaturatesAtBothBounds) {
    auto t = tier(kI32ClampTiers);
    const std::vector<double> src = {-2147483648.5, 2147483647.5, 1e300, -kInf, -2147483648.5};
    std::vector<std::int32_t> out(src.size());
    ASSERT_TRUE(t->fn(src, out, RoundingMode::TowardsNegative).ok());
    EXPECT_EQ(out, (std::vector<std::int32_t>{INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN}));
}

TEST_P(KernelTiers, NaNAtIndexTwentyOfForty) {
    auto t = tier(kF32ToU8Tiers);
    std::vector<float> src(40, 3.0f);
    src[20] = NAN;
    std::vector<std::uint8_t> out(40, 99);
    const CastResult r = t->fn(src, out, RoundingMode::NearestEven);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message(), "Cannot cast NaN to integer type without scalar_map");
    const std::size_t stored = GetParam() == KernelTier::Generic ? 20 : 16;
    for (std::size_t i = 0; i < 40; ++i) EXPECT_EQ(out[i], i < stored ? 3 : 99) << i;
}

TEST_P(KernelTiers, I32CheckReportsUnroundedValueAndNaNFirstInBlock) {
    auto t = tier(kI32CheckTiers);
    if (t == nullptr) GTEST_SKIP() << "no checking kernel on this tier";
    struct Case {
        std::vector<double> src;
        RoundingMode mode;
        CastError want;
        std::size_t stored;
    };
    const Case cases[] = {
        {{1.0, 2147483647.5}, RoundingMode::NearestEven, CastError::out_of_range(2147483647.5, kI32Lo, kI32Hi), 1},
        {{3e9, kNaN, 1.0, 2.0}, RoundingMode::NearestEven, CastError::not_castable(kNaN), 0},
        {{3e9, 1.0, 2.0, 3.0, kNaN}, RoundingMode::NearestEven, CastError::out_of_range(3e9, kI32Lo, kI32Hi), 0},
        {{5.0, 6.0, 7.0, 8.0, -2147483648.4}, RoundingMode::TowardsNegative,
         CastError::out_of_range(-2147483648.4, kI32Lo, kI32Hi), 4},
        {{1.0, 2.0, 3.0, -2147483649.5}, RoundingMode::NearestEven,
         CastError::out_of_range(-2147483649.5, kI32Lo, kI32Hi), 0},
    };
    for (const Case& c : cases) {
        std::vector<std::int32_t> out(c.src.size(), -1);
        const CastResult r = t->fn(c.src, out, c.mode);
        ASSERT_FALSE(r.ok());
        EXPECT_TRUE(simd_test::same_error(r.error(), c.want));
        for (std::size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i], i < c.stored ? static_cast<std::int32_t>(c.src[i]) : -1) << i;
        }
    }
    EXPECT_EQ(CastError::out_of_range(2147483647.5, kI32Lo, kI32Hi).message(),
              "Value 2147483647.5 out of range [-2147483648, 2147483647]. Set out_of_range='clamp' or "
              "out_of_range='wrap' to handle this.");
}

TEST_P(KernelTiers, I32CheckAcceptsValuesThatRoundInside) {
    auto t = tier(kI32CheckTiers);
    if (t == nullptr) GTEST_SKIP() << "no checking kernel on this tier";
    std::vector<std::int32_t> out(5);
    const std::vector<double> low = {-2147483648.4, -2147483648.4, -2147483648.4, -2147483648.4, -2147483648.4};
    ASSERT_TRUE(t->fn(low, out, RoundingMode::TowardsZero).ok());
    EXPECT_EQ(out, std::vector<std::int32_t>(5, INT32_MIN));
    for (RoundingMode mode : kModes) {
        const std::vector<double> high(5, 2147483647.0);
        ASSERT_TRUE(t->fn(high, out, mode).ok()) << mode_label(mode);
        EXPECT_EQ(out, std::vector<std::int32_t>(5, INT32_MAX));
    }
}

TEST_P(KernelTiers, F64ToF32OverflowSubnormalsAndSpecials) {
    auto t = tier(kF64ToF32Tiers);
    if (t == nullptr) GTEST_SKIP() << "no float64-to-float32 kernel on this tier";
    const std::vector<double> src = {1.0, 1e39, 2.0, 3.0, 4.0};
    const std::vector<float> want = {1.0f, INFINITY, 2.0f, 3.0f, 4.0f};
    std::vector<float> out(src.size());
    const CastResult checked = t->fn(src, out, true);
    ASSERT_FALSE(checked.ok());
    EXPECT_EQ(checked.error().message(),
              "Value 1000000000000000000000000000000000000000 out of range [-340282346638528860000000000000000000000, "
              "340282346638528860000000000000000000000]. Set out_of_range='clamp' or out_of_range='wrap' to handle "
              "this.");
    EXPECT_EQ(out, want);
    std::fill(out.begin(), out.end(), 0.0f);
    ASSERT_TRUE(t->fn(src, out, false).ok());
    EXPECT_EQ(out, want);

    // Specials never fail; tiny values give zeros and subnormals, not flushed.
    const std::vector<double> special = {kInf, -kInf, kNaN, 1e-46, -1e-46, 1e-40, 3.4028235677973362e38, -0.0};
    std::vector<float> got(special.size());
    ASSERT_TRUE(t->fn(special, got, true).ok());
    EXPECT_EQ(got[0], INFINITY);
    EXPECT_EQ(got[1], -INFINITY);
    EXPECT_TRUE(std::isnan(got[2]));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(got[3]), 0x00000000u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(got[4]), 0x80000000u);
    EXPECT_EQ(got[5], 9.99994610111476e-41f);
    EXPECT_EQ(std::fpclassify(got[5]), FP_SUBNORMAL);
    EXPECT_EQ(got[6], std::numeric_limits<float>::max());
    EXPECT_EQ(std::bit_cast<std::uint32_t>(got[7]), 0x80000000u);

    // Exactly halfway above the largest float rounds to even: infinity.
    const std::vector<double> halfway(9, 3.4028235677973366e38);
    std::vector<float> inf_out(9);
    const CastResult r = t->fn(halfway, inf_out, true);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().value, 3.4028235677973366e38);
    EXPECT_EQ(inf_out, std::vector<float>(9, INFINITY));
}

// Tiers compared with one another directly on the same clean runs.
TEST(KernelTierAgreement, AvailableTiersWriteIdenticalBytes) {
    Source source(41);
    const auto u8 = without_nan(source.u8_values(1000));
    const auto i32 = without_nan(source.i32_values(1000, false));
    for (RoundingMode mode : kModes) {
        std::vector<std::vector<std::uint8_t>> f32_outs, f64_outs;
        std::vector<std::vector<std::int32_t>> i32_outs;
        for (const auto& t : simd_test::available(kF32ToU8Tiers)) {
            f32_outs.emplace_back(u8.size());
            ASSERT_TRUE(t.fn(to_f32(u8), f32_outs.back(), mode).ok());
        }
        for (const auto& t : simd_test::available(kF64ToU8Tiers)) {
            f64_outs.emplace_back(u8.size());
            ASSERT_TRUE(t.fn(u8, f64_outs.back(), mode).ok());
        }
        for (const auto& t : simd_test::available(kI32ClampTiers)) {
            i32_outs.emplace_back(i32.size());
            ASSERT_TRUE(t.fn(i32, i32_outs.back(), mode).ok());
        }
        for (std::size_t k = 1; k < f32_outs.size(); ++k) EXPECT_EQ(f32_outs[k], f32_outs[0]);
        for (std::size_t k = 1; k < f64_outs.size(); ++k) EXPECT_EQ(f64_outs[k], f64_outs[0]);
        for (std::size_t k = 1; k < i32_outs.size(); ++k) EXPECT_EQ(i32_outs[k], i32_outs[0]);
    }
}

INSTANTIATE_TEST_SUITE_P(Tiers, KernelTiers,
                         ::testing::Values(KernelTier::Avx2, KernelTier::Avx, KernelTier::Generic),
                         [](const ::testing::TestParamInfo<KernelTier>& info) {
                             switch (info.param) {
                                 case KernelTier::Avx2: return std::string("Avx2");
                                 case KernelTier::Avx: return std::string("Avx");
                                 case KernelTier::Generic: return std::string("Generic");
                             }
                             return std::string("Unknown");
                         });

}  // namespace
}  // namespace quellon
