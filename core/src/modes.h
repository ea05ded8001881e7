#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "result.h"

namespace quellon {

enum class RoundingMode { NearestEven, TowardsZero, TowardsPositive, TowardsNegative, NearestAway };

enum class OutOfRangeMode { Clamp, Wrap };

// Absent means "report out-of-range values as errors".
using OptionalOutOfRange = std::optional<OutOfRangeMode>;

// Texts match only when byte-for-byte equal to a mode's text form; the
// error is the message the caller sees, with the text exactly as written.
Result<RoundingMode, std::string> parse_rounding_mode(std::string_view text);
Result<OutOfRangeMode, std::string> parse_out_of_range_mode(std::string_view text);

std::string_view rounding_mode_text(RoundingMode mode);
std::string_view out_of_range_mode_text(OutOfRangeMode mode);

}  // namespace quellon
