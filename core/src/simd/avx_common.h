#pragma once

// 256-bit blocks that the AVX and AVX2 tiers share: they need AVX only.
// Include only from files compiled with at least -mavx. Internal linkage
// for the reason given in scalar_steps.h.

#include <immintrin.h>

#include <type_traits>

#include "scalar_steps.h"

namespace quellon::simd {
namespace {

constexpr std::size_t kF64Lanes = 4;
constexpr std::size_t kF32Lanes = 8;
constexpr std::size_t kI32Block = kF64Lanes;
constexpr std::size_t kF64ToF32Block = kF64Lanes;
constexpr std::size_t kF64ToF32Unrolled = 4 * kF64ToF32Block;

template <int Imm>
using RoundImm = std::integral_constant<int, Imm>;

// The packed round instruction takes its rounding control as an immediate,
// so each mode gets its own instantiation of the block loop. NearestAway
// has no such control and goes through `scalar` for the whole run.
template <class Vector, class Scalar>
CastResult with_round_imm(RoundingMode mode, Vector&& vector, Scalar&& scalar) {
    switch (mode) {
        case RoundingMode::NearestEven: return vector(RoundImm<_MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC>{});
        case RoundingMode::TowardsZero: return vector(RoundImm<_MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC>{});
        case RoundingMode::TowardsPositive: return vector(RoundImm<_MM_FROUND_TO_POS_INF | _MM_FROUND_NO_EXC>{});
        case RoundingMode::TowardsNegative: return vector(RoundImm<_MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC>{});
        case RoundingMode::NearestAway: break;
    }
    return scalar();
}

inline __m256d nan_lanes(__m256d v) { return _mm256_cmp_pd(v, v, _CMP_UNORD_Q); }
inline __m256 nan_lanes(__m256 v) { return _mm256_cmp_ps(v, v, _CMP_UNORD_Q); }
inline bool any_lane(__m256d mask) { return _mm256_movemask_pd(mask) != 0; }
inline bool any_lane(__m256 mask) { return _mm256_movemask_ps(mask) != 0; }

// Maximum with lo first, then minimum with hi, as the scalar step does.
template <int Imm>
__m256d round_clamp(__m256d v, __m256d lo, __m256d hi) {
    return _mm256_min_pd(_mm256_max_pd(_mm256_round_pd(v, Imm), lo), hi);
}

template <int Imm>
__m256 round_clamp(__m256 v, __m256 lo, __m256 hi) {
    return _mm256_min_ps(_mm256_max_ps(_mm256_round_ps(v, Imm), lo), hi);
}

template <class F, class T>
struct VectorBounds {
    static __m256d lo_pd() { return _mm256_set1_pd(Bounds<F, T>::lo); }
    static __m256d hi_pd() { return _mm256_set1_pd(Bounds<F, T>::hi); }
    static __m256 lo_ps() { return _mm256_set1_ps(Bounds<F, T>::lo); }
    static __m256 hi_ps() { return _mm256_set1_ps(Bounds<F, T>::hi); }
};

template <int Imm>
StepError f64_to_i32_clamp_block(const double* in, std::int32_t* out) {
    using B = VectorBounds<double, std::int32_t>;
    const __m256d v = _mm256_loadu_pd(in);
    if (any_lane(nan_lanes(v))) return first_nan(in, kI32Block);
    const __m128i q = _mm256_cvtpd_epi32(round_clamp<Imm>(v, B::lo_pd(), B::hi_pd()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), q);
    return std::nullopt;
}

template <int Imm>
StepError f64_to_i32_check_block(const double* in, std::int32_t* out, RoundingMode mode) {
    using B = Bounds<double, std::int32_t>;
    const __m256d v = _mm256_loadu_pd(in);
    // The NaN test covers the whole block before any range test.
    if (any_lane(nan_lanes(v))) return first_nan(in, kI32Block);
    const __m256d r = _mm256_round_pd(v, Imm);
    const __m256d outside = _mm256_or_pd(_mm256_cmp_pd(r, _mm256_set1_pd(B::lo), _CMP_LT_OQ),
                                         _mm256_cmp_pd(r, _mm256_set1_pd(B::hi), _CMP_GT_OQ));
    if (any_lane(outside)) {
        std::int32_t unused;
        for (std::size_t k = 0; k < kI32Block; ++k) {
            if (StepError e = check_i32_one(in[k], mode, unused)) return e;
        }
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_cvtpd_epi32(r));
    return std::nullopt;
}

template <class One>
CastResult f64_to_i32_clamp_run(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode,
                                One&& one) {
    return with_round_imm(
        mode,
        [&](auto imm) {
            return run_blocks<kI32Block>(src, dst, f64_to_i32_clamp_block<decltype(imm)::value>, one);
        },
        [&] { return run_all_scalar(src, dst, one); });
}

inline CastResult f64_to_i32_check_run(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode) {
    const auto one = [mode](double v, std::int32_t& out) { return check_i32_one(v, mode, out); };
    return with_round_imm(
        mode,
        [&](auto imm) {
            const auto block = [mode](const double* in, std::int32_t* out) {
                return f64_to_i32_check_block<decltype(imm)::value>(in, out, mode);
            };
            return run_blocks<kI32Block>(src, dst, block, one);
        },
        [&] { return run_all_scalar(src, dst, one); });
}

inline void f64_to_f32_block(const double* in, float* out) {
    _mm_storeu_ps(out, _mm256_cvtpd_ps(_mm256_loadu_pd(in)));
}

// Converts the whole run without a branch on the values; overflow to
// infinity is looked for afterwards.
inline void f64_to_f32_convert(const double* in, float* out, std::size_t n) {
    std::size_t i = 0;
    for (; i + kF64ToF32Unrolled <= n; i += kF64ToF32Unrolled) {
        f64_to_f32_block(in + i, out + i);
        f64_to_f32_block(in + i + kF64ToF32Block, out + i + kF64ToF32Block);
        f64_to_f32_block(in + i + 2 * kF64ToF32Block, out + i + 2 * kF64ToF32Block);
        f64_to_f32_block(in + i + 3 * kF64ToF32Block, out + i + 3 * kF64ToF32Block);
    }
    for (; i + kF64ToF32Block <= n; i += kF64ToF32Block) f64_to_f32_block(in + i, out + i);
    for (; i < n; ++i) out[i] = static_cast<float>(in[i]);
}

}  // namespace
}  // namespace quellon::simd
