#include "modes.h"

#include <array>
#include <utility>

namespace quellon {
namespace {

constexpr std::array<std::pair<std::string_view, RoundingMode>, 5> kRoundingModes{{
    {"nearest-even", RoundingMode::NearestEven},
    {"towards-zero", RoundingMode::TowardsZero},
    {"towards-positive", RoundingMode::TowardsPositive},
    {"towards-negative", RoundingMode::TowardsNegative},
    {"nearest-away", RoundingMode::NearestAway},
}};

constexpr std::array<std::pair<std::string_view, OutOfRangeMode>, 2> kOutOfRangeModes{{
    {"clamp", OutOfRangeMode::Clamp},
    {"wrap", OutOfRangeMode::Wrap},
}};

}  // namespace

Result<RoundingMode, std::string> parse_rounding_mode(std::string_view text) {
    for (const auto& [name, mode] : kRoundingModes) {
        if (name == text) return mode;
    }
    return "Unknown rounding mode: " + std::string(text);
}

Result<OutOfRangeMode, std::string> parse_out_of_range_mode(std::string_view text) {
    for (const auto& [name, mode] : kOutOfRangeModes) {
        if (name == text) return mode;
    }
    return "Unknown out_of_range mode: " + std::string(text);
}

std::string_view rounding_mode_text(RoundingMode mode) {
    for (const auto& [name, m] : kRoundingModes) {
        if (m == mode) return name;
    }
    return {};
}

std::string_view out_of_range_mode_text(OutOfRangeMode mode) {
    for (const auto& [name, m] : kOutOfRangeModes) {
        if (m == mode) return name;
    }
    return {};
}

}  // namespace quellon
