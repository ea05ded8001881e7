#include "cast_error.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace quellon {

std::string format_number(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";

    std::string out = std::signbit(value) ? "-" : "";
    // Scientific form carries the shortest digits with an explicit exponent,
    // which is then laid out without one.
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(end - buf));
    const auto e_pos = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e_pos)) {
        if (c != '.') digits.push_back(c);
    }
    const int exponent = std::atoi(std::string(sci.substr(e_pos + 1)).c_str());

    if (digits == "0") return out + "0";
    // The decimal point sits after `point` digits of `digits`.
    const int point = exponent + 1;
    const int count = static_cast<int>(digits.size());
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (point >= count) {
        out += digits;
        out.append(static_cast<std::size_t>(point - count), '0');
    } else {
        out += digits.substr(0, static_cast<std::size_t>(point));
        out += '.';
        out += digits.substr(static_cast<std::size_t>(point));
    }
    return out;
}

std::string CastError::message() const {
    if (kind == Kind::NotCastable) {
        return "Cannot cast " + format_number(value) + " to integer type without scalar_map";
    }
    return "Value " + format_number(value) + " out of range [" + format_number(lo) + ", " +
           format_number(hi) + "]. Set out_of_range='clamp' or out_of_range='wrap' to handle this.";
}

}  // namespace quellon
