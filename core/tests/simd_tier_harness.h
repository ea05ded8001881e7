#pragma once

// Runs a kernel tier on a run and checks it against a scalar model of the
// kernel: the values, the error, and which elements a failing run stored.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "simd/cpu_features.h"
#include "simd/tiers.h"

namespace quellon::simd_test {

template <class S, class T, class Param>
using TierFn = CastResult (*)(std::span<const S>, std::span<T>, Param);

// `block` is the number of elements that are stored together: a failure
// anywhere in a block leaves the whole block unwritten (1 for the generic
// tier). Zero means every element is stored before anything is checked.
template <class S, class T, class Param>
struct Tier {
    std::string name;
    KernelTier needs;
    TierFn<S, T, Param> fn;
    std::size_t block;
};

inline bool tier_available(KernelTier tier) {
    switch (tier) {
        case KernelTier::Avx2: return cpu_features().avx2_tier;
        case KernelTier::Avx: return cpu_features().avx;
        case KernelTier::Generic: return true;
    }
    return false;
}

// What a per-element conversion of the run gives: every value it can
// compute, and the first failing index with the error found there.
template <class T>
struct Expected {
    std::vector<T> values;
    std::optional<std::size_t> fail;
    std::optional<CastError> error;
};

template <class T>
auto raw(T v) {
    if constexpr (std::is_floating_point_v<T>) {
        return std::bit_cast<std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>(v);
    } else {
        return v;
    }
}

// NaN-carrying errors compare by bits.
inline ::testing::AssertionResult same_error(const CastError& got, const CastError& want) {
    if (got.kind == want.kind && raw(got.value) == raw(want.value) && raw(got.lo) == raw(want.lo) &&
        raw(got.hi) == raw(want.hi)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "got " << got.message() << ", want " << want.message();
}

template <class T>
T sentinel() {
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(-12345.0);
    } else {
        return static_cast<T>(0x5A);
    }
}

// The first index a failing tier leaves unwritten.
inline std::size_t stored_up_to(std::size_t fail, std::size_t n, std::size_t block) {
    const std::size_t blocked = n - n % block;
    return fail < blocked ? fail - fail % block : fail;
}

// NearestAway has no vector rounding control: the tiers convert such a run
// element by element.
template <class S, class T, class Param>
std::size_t store_block(const Tier<S, T, Param>& tier, Param param) {
    if constexpr (std::is_same_v<Param, RoundingMode>) {
        if (param == RoundingMode::NearestAway) return 1;
    }
    return tier.block;
}

template <class S, class T, class Param>
void expect_tier_matches(const Tier<S, T, Param>& tier, const std::vector<S>& src, Param param,
                         const Expected<T>& want, const std::string& label) {
    SCOPED_TRACE(tier.name + " " + label + " n=" + std::to_string(src.size()));
    std::vector<T> dst(src.size(), sentinel<T>());
    const CastResult result = tier.fn(src, dst, param);
    const std::size_t n = src.size();
    std::size_t written = n;
    if (want.fail) {
        ASSERT_FALSE(result.ok());
        EXPECT_TRUE(same_error(result.error(), *want.error));
        const std::size_t block = store_block(tier, param);
        if (block != 0) written = stored_up_to(*want.fail, n, block);
    } else {
        ASSERT_TRUE(result.ok()) << result.error().message();
    }
    for (std::size_t i = 0; i < n; ++i) {
        const T expected = i < written ? want.values[i] : sentinel<T>();
        ASSERT_EQ(raw(dst[i]), raw(expected)) << "index " << i << " of " << n << ", stored up to " << written;
    }
}

template <class S, class T, class Param>
std::vector<Tier<S, T, Param>> available(const std::vector<Tier<S, T, Param>>& tiers) {
    std::vector<Tier<S, T, Param>> out;
    for (const auto& t : tiers) {
        if (tier_available(t.needs)) out.push_back(t);
    }
    return out;
}

}  // namespace quellon::simd_test
