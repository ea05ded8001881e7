#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>

#include "cast_error.h"
#include "scalar_map.h"

namespace quellon {

// The per-element loop every family falls back to: the map first, then the
// family's own rule. Stops at the first failure with nothing written at or
// after the failing index.
// `convert(v, out)` stores into `out` and returns an error, or nullopt.
template <class S, class T, class Convert>
CastResult convert_elements(std::span<const S> src, std::span<T> dst, const ScalarMap<S, T>& map,
                            Convert&& convert) {
    const std::size_t n = std::min(src.size(), dst.size());
    for (std::size_t i = 0; i < n; ++i) {
        const S v = src[i];
        T out;
        if (const T* mapped = map.find(v)) {
            out = *mapped;
        } else if (std::optional<CastError> error = convert(v, out)) {
            return *error;
        }
        dst[i] = out;
    }
    return Ok{};
}

template <class S, class T>
std::size_t run_length(std::span<const S> src, std::span<T> dst) {
    return std::min(src.size(), dst.size());
}

// memmove, not memcpy: an in-place cast of a buffer onto itself is allowed.
template <class S, class T>
void copy_bits(std::span<const S> src, std::span<T> dst, std::size_t n) {
    static_assert(sizeof(S) == sizeof(T));
    if (n != 0 && static_cast<const void*>(src.data()) != static_cast<void*>(dst.data())) {
        std::memmove(dst.data(), src.data(), n * sizeof(T));
    }
}

}  // namespace quellon
