#include <gtest/gtest.h>

#include <string>

#include "modes.h"

namespace quellon {
namespace {

TEST(ParseRoundingMode, ExactTextsOnly) {
    const std::pair<const char*, RoundingMode> good[] = {
        {"nearest-even", RoundingMode::NearestEven},       {"towards-zero", RoundingMode::TowardsZero},
        {"towards-positive", RoundingMode::TowardsPositive}, {"towards-negative", RoundingMode::TowardsNegative},
        {"nearest-away", RoundingMode::NearestAway},
    };
    for (const auto& [text, mode] : good) {
        auto parsed = parse_rounding_mode(text);
        ASSERT_TRUE(parsed.ok()) << text;
        EXPECT_EQ(parsed.value(), mode);
        EXPECT_EQ(rounding_mode_text(mode), text);
    }
    for (std::string bad : {"Nearest-Even", "nearest_even", " nearest-even", "nearest-even ", ""}) {
        auto parsed = parse_rounding_mode(bad);
        ASSERT_FALSE(parsed.ok()) << bad;
        EXPECT_EQ(parsed.error(), "Unknown rounding mode: " + bad);
    }
    // An embedded NUL is part of the text, not its end.
    auto nul = parse_rounding_mode(std::string_view("nearest-even\0x", 14));
    ASSERT_FALSE(nul.ok());
    EXPECT_EQ(nul.error().size(), std::string("Unknown rounding mode: ").size() + 14);
}

TEST(ParseOutOfRangeMode, ExactTextsOnly) {
    EXPECT_EQ(parse_out_of_range_mode("clamp").value(), OutOfRangeMode::Clamp);
    EXPECT_EQ(parse_out_of_range_mode("wrap").value(), OutOfRangeMode::Wrap);
    EXPECT_EQ(parse_out_of_range_mode("CLAMP").error(), "Unknown out_of_range mode: CLAMP");
    EXPECT_EQ(parse_out_of_range_mode("").error(), "Unknown out_of_range mode: ");
}

}  // namespace
}  // namespace quellon
