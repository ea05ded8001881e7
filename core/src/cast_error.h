#pragma once

#include <string>

#include "result.h"

namespace quellon {

// The one error of the conversion families. Every number is a float64,
// whatever the element types of the cast.
struct CastError {
    enum class Kind { NotCastable, OutOfRange };

    Kind kind;
    double value;
    double lo = 0.0;  // meaningful for OutOfRange only
    double hi = 0.0;

    static CastError not_castable(double value) { return {Kind::NotCastable, value}; }
    static CastError out_of_range(double value, double lo, double hi) {
        return {Kind::OutOfRange, value, lo, hi};
    }

    std::string message() const;

    friend bool operator==(const CastError&, const CastError&) = default;
};

using CastResult = Result<Ok, CastError>;

// Shortest round-trip digits laid out positionally: 1e20 is
// "100000000000000000000", 1e-7 is "0.0000001", -0.0 is "-0", NaN is "NaN".
std::string format_number(double value);

}  // namespace quellon
