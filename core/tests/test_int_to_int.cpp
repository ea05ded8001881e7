#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "int_to_int.h"

namespace quellon {
namespace {

template <class S, class T>
struct Run {
    std::vector<T> out;
    CastResult result = Ok{};
};

template <class S, class T>
Run<S, T> cast(std::vector<S> in, OptionalOutOfRange mode, ScalarMap<S, T> map = {}, std::size_t out_len = SIZE_MAX,
               T fill = T(99)) {
    CastConfig<S, T> config{RoundingMode::NearestEven, mode, std::move(map)};
    Run<S, T> run;
    run.out.assign(out_len == SIZE_MAX ? in.size() : out_len, fill);
    run.result = convert_slice_int_to_int<S, T>(in, run.out, config);
    return run;
}

constexpr OptionalOutOfRange kChecked{};
constexpr OptionalOutOfRange kClamp{OutOfRangeMode::Clamp};
constexpr OptionalOutOfRange kWrap{OutOfRangeMode::Wrap};

TEST(IntRange, BoundsFollowBothTypes) {
    EXPECT_EQ((IntRange<std::int8_t, std::uint8_t>::lo), 0);
    EXPECT_EQ((IntRange<std::int8_t, std::uint8_t>::hi), 127);
    EXPECT_EQ((IntRange<std::int32_t, std::uint64_t>::hi), 2147483647);
    EXPECT_EQ((IntRange<std::uint64_t, std::int64_t>::hi), 9223372036854775807ull);
    EXPECT_EQ((IntRange<std::int64_t, std::int16_t>::lo), -32768);
    EXPECT_TRUE((IntRange<std::uint8_t, std::int16_t>::exact));
    EXPECT_TRUE((IntRange<std::int32_t, std::int64_t>::exact));
    EXPECT_FALSE((IntRange<std::int8_t, std::uint64_t>::exact));
    EXPECT_FALSE((IntRange<std::uint32_t, std::int32_t>::exact));
}

TEST(IntToInt, CheckedStopsAtFirstFailureAndReportsBounds) {
    auto run = cast<std::int32_t, std::uint8_t>({1, 300, 2}, kChecked);
    ASSERT_FALSE(run.result.ok());
    EXPECT_EQ(run.result.error(), CastError::out_of_range(300, 0, 255));
    EXPECT_EQ(run.out, (std::vector<std::uint8_t>{1, 99, 99}));

    auto neg = cast<std::int8_t, std::uint8_t>({-1}, kChecked);
    EXPECT_EQ(neg.result.error(), CastError::out_of_range(-1, 0, 127));

    // 64-bit values are carried as the nearest float64.
    auto big = cast<std::uint64_t, std::int64_t>({18446744073709551615ull}, kChecked);
    EXPECT_EQ(big.result.error().message(),
              "Value 18446744073709552000 out of range [0, 9223372036854776000]. Set out_of_range='clamp' or "
              "out_of_range='wrap' to handle this.");
    auto rounded = cast<std::int64_t, std::int32_t>({(std::int64_t{1} << 53) + 1}, kChecked);
    EXPECT_EQ(rounded.result.error().value, 9007199254740992.0);
}

TEST(IntToInt, ClampSaturatesToTarget) {
    EXPECT_EQ((cast<std::int32_t, std::uint16_t>({-5, 70000, 300}, kClamp).out),
              (std::vector<std::uint16_t>{0, 65535, 300}));
    EXPECT_EQ((cast<std::uint64_t, std::int64_t>({18446744073709551615ull}, kClamp).out),
              (std::vector<std::int64_t>{std::numeric_limits<std::int64_t>::max()}));
    EXPECT_EQ((cast<std::int8_t, std::uint64_t>({-128, -1, 0, 127}, kClamp).out),
              (std::vector<std::uint64_t>{0, 0, 0, 127}));
    EXPECT_EQ((cast<std::int64_t, std::int8_t>({INT64_MIN, -129, 128, INT64_MAX}, kClamp).out),
              (std::vector<std::int8_t>{-128, -128, 127, 127}));
}

TEST(IntToInt, WrapIsModularInTargetWidth) {
    EXPECT_EQ((cast<std::int32_t, std::uint8_t>({300}, kWrap).out), (std::vector<std::uint8_t>{44}));
    EXPECT_EQ((cast<std::int16_t, std::int8_t>({-129}, kWrap).out), (std::vector<std::int8_t>{127}));
    EXPECT_EQ((cast<std::int8_t, std::uint16_t>({-1}, kWrap).out), (std::vector<std::uint16_t>{65535}));
    EXPECT_EQ((cast<std::uint64_t, std::int64_t>({9223372036854775808ull}, kWrap).out),
              (std::vector<std::int64_t>{INT64_MIN}));
    EXPECT_EQ((cast<std::int64_t, std::int32_t>({4294967301, -2147483649}, kWrap).out),
              (std::vector<std::int32_t>{5, 2147483647}));
    EXPECT_EQ((cast<std::uint8_t, std::int64_t>({255}, kWrap).out), (std::vector<std::int64_t>{255}));
}

TEST(IntToInt, ExactPairsNeverFail) {
    auto run = cast<std::int16_t, std::int64_t>({-32768, 32767}, kChecked);
    ASSERT_TRUE(run.result.ok());
    EXPECT_EQ(run.out, (std::vector<std::int64_t>{-32768, 32767}));
}

TEST(IntToInt, ScalarMapWinsOverRangeAndModes) {
    using Map = ScalarMap<std::int8_t, std::uint8_t>;
    auto mapped = cast<std::int8_t, std::uint8_t>({-1, 5}, kChecked, Map{{-1, 7}});
    ASSERT_TRUE(mapped.result.ok());
    EXPECT_EQ(mapped.out, (std::vector<std::uint8_t>{7, 5}));
    EXPECT_FALSE((cast<std::int8_t, std::uint8_t>({-2}, kChecked, Map{{-1, 7}}).result.ok()));
    EXPECT_EQ((cast<std::int8_t, std::uint8_t>({3, -3}, kClamp, Map{{3, 10}, {3, 20}}).out),
              (std::vector<std::uint8_t>{10, 0}));
    EXPECT_EQ((cast<std::int16_t, std::int16_t>({0, 4, 0}, kChecked, ScalarMap<std::int16_t, std::int16_t>{{0, -1}}).out),
              (std::vector<std::int16_t>{-1, 4, -1}));
    auto fail = cast<std::int16_t, std::uint8_t>({-1, 1, -2, 3}, kChecked, ScalarMap<std::int16_t, std::uint8_t>{{-1, 200}});
    EXPECT_EQ(fail.result.error(), CastError::out_of_range(-2, 0, 255));
    EXPECT_EQ(fail.out, (std::vector<std::uint8_t>{200, 1, 99, 99}));
}

TEST(IntToInt, ProcessesTheShorterOfBothRuns) {
    auto shorter_out = cast<std::int32_t, std::int32_t>({1, 2, 3, 4, 5}, kChecked, {}, 3);
    EXPECT_EQ(shorter_out.out, (std::vector<std::int32_t>{1, 2, 3}));
    auto longer_out = cast<std::int32_t, std::int8_t>({1, 2, 3}, kWrap, {}, 5);
    EXPECT_EQ(longer_out.out, (std::vector<std::int8_t>{1, 2, 3, 99, 99}));
    EXPECT_TRUE((cast<std::int32_t, std::int8_t>({}, kChecked).result.ok()));
}

TEST(IntToInt, InPlaceOnTheSameBuffer) {
    std::vector<std::int32_t> buf{-1, 2, 70000};
    std::span<const std::int32_t> src(buf);
    auto* out = reinterpret_cast<std::uint32_t*>(buf.data());
    CastConfig<std::int32_t, std::uint32_t> config{RoundingMode::NearestEven, kWrap, {}};
    std::span<std::uint32_t> dst(out, buf.size());
    ASSERT_TRUE((convert_slice_int_to_int<std::int32_t, std::uint32_t>(src, dst, config).ok()));
    EXPECT_EQ(out[0], 4294967295u);
    config.out_of_range_mode = kClamp;
    std::vector<std::int32_t> buf2{-1, 2, 70000};
    auto* out2 = reinterpret_cast<std::uint32_t*>(buf2.data());
    std::span<std::uint32_t> dst2(out2, 3);
    ASSERT_TRUE((convert_slice_int_to_int<std::int32_t, std::uint32_t>(std::span<const std::int32_t>(buf2), dst2, config).ok()));
    EXPECT_EQ(out2[0], 0u);
    EXPECT_EQ(out2[2], 70000u);
}

}  // namespace
}  // namespace quellon
