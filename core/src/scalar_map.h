#pragma once

#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "element_types.h"

namespace quellon {

// Whether a map entry's source value covers an element: integers by exact
// equality; floats by IEEE equality, except that a NaN element is covered
// by any NaN entry.
template <class S>
bool map_source_matches(S entry, S element) {
    if constexpr (std::is_same_v<S, Float16>) {
        return element.is_nan() ? entry.is_nan() : ieee_equal(entry, element);
    } else if constexpr (std::is_floating_point_v<S>) {
        return std::isnan(element) ? std::isnan(entry) : entry == element;
    } else {
        return entry == element;
    }
}

// Ordered (source, target) entries; the first matching entry wins.
template <class S, class T>
class ScalarMap {
public:
    using Entry = std::pair<S, T>;

    ScalarMap() = default;
    ScalarMap(std::initializer_list<Entry> entries) : entries_(entries) {}

    void add(S source, T target) { entries_.emplace_back(source, target); }
    bool empty() const { return entries_.empty(); }
    std::size_t size() const { return entries_.size(); }
    const std::vector<Entry>& entries() const { return entries_; }

    const T* find(S element) const {
        for (const Entry& entry : entries_) {
            if (map_source_matches(entry.first, element)) return &entry.second;
        }
        return nullptr;
    }

private:
    std::vector<Entry> entries_;
};

}  // namespace quellon
