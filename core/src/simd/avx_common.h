#pragma once

// 256-bit blocks that the AVX and AVX2 tiers share: they need AVX only.
// Include only from files compiled with at least -mavx. Internal linkage
// for the reason given in scalar_steps.h.

#include <immintrin.h>

#include <cmath>

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

// `Blocks` blocks at a time when all are clean: one combined test, then the
// stores. A group that holds a failure goes through its blocks one by one,
// which report and store exactly as the single-block loop would.
template <std::size_t Block, std::size_t Blocks, class S, class T, class GroupFn, class BlockFn, class One>
CastResult run_block_groups(std::span<const S> src, std::span<T> dst, GroupFn&& group, BlockFn&& block, One&& one) {
    const std::size_t n = std::min(src.size(), dst.size());
    const S* in = src.data();
    T* out = dst.data();
    std::size_t i = 0;
    for (; i + Blocks * Block <= n; i += Blocks * Block) {
        if (group(in + i, out + i)) continue;
        for (std::size_t k = 0; k < Blocks; ++k) {
            if (StepError e = block(in + i + k * Block, out + i + k * Block)) return *e;
        }
    }
    return run_blocks<Block>(src.subspan(i, n - i), dst.subspan(i, n - i), block, one);
}

constexpr std::size_t kI32Group = 4;

template <int Imm>
inline __m128i f64_to_i32_rounded(const double* in) {
    const __m256d v = _mm256_loadu_pd(in);
    // The conversion itself rounds to nearest even under the default
    // rounding control, which this module never changes.
    return _mm256_cvtpd_epi32(Imm == (_MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC) ? v : _mm256_round_pd(v, Imm));
}

// Converts four blocks when every lane lands inside int32; false, with
// nothing stored, otherwise. The conversion gives INT32_MIN for NaN and for
// anything beyond int32, so a group without that value is clean; a group
// holding a genuine -2147483648 merely takes the block-by-block path.
template <int Imm>
struct F64ToI32Group {
    [[gnu::always_inline]] bool operator()(const double* in, std::int32_t* out) const {
        static_assert(kI32Group == 4);
        const __m128i q0 = f64_to_i32_rounded<Imm>(in);
        const __m128i q1 = f64_to_i32_rounded<Imm>(in + kI32Block);
        const __m128i q2 = f64_to_i32_rounded<Imm>(in + 2 * kI32Block);
        const __m128i q3 = f64_to_i32_rounded<Imm>(in + 3 * kI32Block);
        const __m128i indefinite = _mm_set1_epi32(std::numeric_limits<std::int32_t>::min());
        const __m128i flagged = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi32(q0, indefinite), _mm_cmpeq_epi32(q1, indefinite)),
                                             _mm_or_si128(_mm_cmpeq_epi32(q2, indefinite), _mm_cmpeq_epi32(q3, indefinite)));
        if (!_mm_testz_si128(flagged, flagged)) return false;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), q0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kI32Block), q1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * kI32Block), q2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * kI32Block), q3);
        return true;
    }
};

template <class One>
CastResult f64_to_i32_clamp_run(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode,
                                One&& one) {
    return with_round_imm(
        mode,
        [&](auto imm) {
            constexpr int kImm = decltype(imm)::value;
            return run_block_groups<kI32Block, kI32Group>(
                src, dst, F64ToI32Group<kImm>{},
                [](const double* in, std::int32_t* out) { return f64_to_i32_clamp_block<kImm>(in, out); }, one);
        },
        [&] { return run_all_scalar(src, dst, one); });
}

inline CastResult f64_to_i32_check_run(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode) {
    const auto one = [mode](double v, std::int32_t& out) { return check_i32_one(v, mode, out); };
    return with_round_imm(
        mode,
        [&](auto imm) {
            constexpr int kImm = decltype(imm)::value;
            const auto block = [mode](const double* in, std::int32_t* out) {
                return f64_to_i32_check_block<kImm>(in, out, mode);
            };
            return run_block_groups<kI32Block, kI32Group>(src, dst, F64ToI32Group<kImm>{}, block, one);
        },
        [&] { return run_all_scalar(src, dst, one); });
}

// Converts one block and keeps in `reach` the largest magnitude stored (the
// maximum passes NaN lanes over): only a run that stored an infinity can
// hold an overflow, so only such a run needs a scan.
inline void f64_to_f32_block(const double* in, float* out, __m128& reach) {
    const __m128 f = _mm256_cvtpd_ps(_mm256_loadu_pd(in));
    _mm_storeu_ps(out, f);
    reach = _mm_max_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), f), reach);
}

// Converts the whole run without a branch on the values; returns whether an
// infinity was stored, which the caller then looks into.
inline bool f64_to_f32_convert(const double* in, float* out, std::size_t n) {
    // One running maximum per unrolled block keeps the chains independent.
    __m128 reach = _mm_setzero_ps();
    __m128 reach1 = _mm_setzero_ps();
    __m128 reach2 = _mm_setzero_ps();
    __m128 reach3 = _mm_setzero_ps();
    std::size_t i = 0;
    for (; i + kF64ToF32Unrolled <= n; i += kF64ToF32Unrolled) {
        f64_to_f32_block(in + i, out + i, reach);
        f64_to_f32_block(in + i + kF64ToF32Block, out + i + kF64ToF32Block, reach1);
        f64_to_f32_block(in + i + 2 * kF64ToF32Block, out + i + 2 * kF64ToF32Block, reach2);
        f64_to_f32_block(in + i + 3 * kF64ToF32Block, out + i + 3 * kF64ToF32Block, reach3);
    }
    for (; i + kF64ToF32Block <= n; i += kF64ToF32Block) f64_to_f32_block(in + i, out + i, reach);
    reach = _mm_max_ps(_mm_max_ps(reach, reach1), _mm_max_ps(reach2, reach3));
    bool tail_inf = false;
    for (; i < n; ++i) {
        out[i] = static_cast<float>(in[i]);
        tail_inf |= std::isinf(out[i]);
    }
    const __m128 inf = _mm_set1_ps(std::numeric_limits<float>::infinity());
    return tail_inf || _mm_movemask_ps(_mm_cmpeq_ps(reach, inf)) != 0;
}

}  // namespace
}  // namespace quellon::simd
