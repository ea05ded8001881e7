#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "cast_error.h"

namespace quellon {
namespace {

TEST(FormatNumber, ShortestDigitsInPositionalNotation) {
    const struct {
        double value;
        std::string text;
    } cases[] = {
        {300.0, "300"},
        {0.5, "0.5"},
        {1e20, "100000000000000000000"},
        {1e-7, "0.0000001"},
        {-0.0, "-0"},
        {0.0, "0"},
        {65504.0, "65504"},
        {9223372036854775808.0, "9223372036854776000"},
        {-9223372036854775808.0, "-9223372036854776000"},
        {18446744073709551616.0, "18446744073709552000"},
        {static_cast<double>(0.1f), "0.10000000149011612"},
        {2147483647.6, "2147483647.6"},
        {-1.5, "-1.5"},
        {1e300, "1" + std::string(300, '0')},
        {5e-324, "0." + std::string(323, '0') + "5"},
        {123.456, "123.456"},
        {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
        {-std::numeric_limits<double>::quiet_NaN(), "NaN"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_number(c.value), c.text) << c.text;
    }
}

TEST(CastErrorMessage, BothVariants) {
    EXPECT_EQ(CastError::out_of_range(300, 0, 255).message(),
              "Value 300 out of range [0, 255]. Set out_of_range='clamp' or out_of_range='wrap' to handle this.");
    EXPECT_EQ(CastError::out_of_range(-1, 0, 9223372036854775808.0).message(),
              "Value -1 out of range [0, 9223372036854776000]. Set out_of_range='clamp' or "
              "out_of_range='wrap' to handle this.");
    EXPECT_EQ(CastError::not_castable(std::nan("")).message(), "Cannot cast NaN to integer type without scalar_map");
    EXPECT_EQ(CastError::not_castable(-std::numeric_limits<double>::infinity()).message(),
              "Cannot cast -inf to integer type without scalar_map");
}

}  // namespace
}  // namespace quellon
