// Compiled with -mavx2 -mfma -mbmi -mbmi2 -mlzcnt -mpopcnt -msse4.2.
#include "simd/avx_common.h"
#include "simd/tiers.h"

namespace quellon::simd::avx2 {

namespace {

// 16 results leave in one 16-byte store.
constexpr std::size_t kU8Block = 16;
constexpr std::size_t kOverflowScanGroup = 4;

// 32 to 16 bits with unsigned saturation works within 128-bit halves and
// gives a0-3 b0-3 | a4-7 b4-7; the permute restores index order.
inline __m128i pack_u8(__m256i a, __m256i b) {
    const __m256i w = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), _MM_SHUFFLE(3, 1, 2, 0));
    return _mm_packus_epi16(_mm256_castsi256_si128(w), _mm256_extracti128_si256(w, 1));
}

inline __m128i pack_u8(__m128i a, __m128i b, __m128i c, __m128i d) {
    return _mm_packus_epi16(_mm_packus_epi32(a, b), _mm_packus_epi32(c, d));
}

template <int Imm>
StepError f32_to_u8_block(const float* in, std::uint8_t* out) {
    using B = VectorBounds<float, std::uint8_t>;
    const __m256 a = _mm256_loadu_ps(in);
    const __m256 b = _mm256_loadu_ps(in + kF32Lanes);
    if (any_lane(_mm256_or_ps(nan_lanes(a), nan_lanes(b)))) return first_nan(in, kU8Block);
    const __m256i ia = _mm256_cvtps_epi32(round_clamp<Imm>(a, B::lo_ps(), B::hi_ps()));
    const __m256i ib = _mm256_cvtps_epi32(round_clamp<Imm>(b, B::lo_ps(), B::hi_ps()));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), pack_u8(ia, ib));
    return std::nullopt;
}

template <int Imm>
StepError f64_to_u8_block(const double* in, std::uint8_t* out) {
    using B = VectorBounds<double, std::uint8_t>;
    const __m256d v0 = _mm256_loadu_pd(in);
    const __m256d v1 = _mm256_loadu_pd(in + kF64Lanes);
    const __m256d v2 = _mm256_loadu_pd(in + 2 * kF64Lanes);
    const __m256d v3 = _mm256_loadu_pd(in + 3 * kF64Lanes);
    const __m256d nan = _mm256_or_pd(_mm256_or_pd(nan_lanes(v0), nan_lanes(v1)),
                                     _mm256_or_pd(nan_lanes(v2), nan_lanes(v3)));
    if (any_lane(nan)) return first_nan(in, kU8Block);
    const __m256d lo = B::lo_pd();
    const __m256d hi = B::hi_pd();
    const __m128i bytes = pack_u8(_mm256_cvtpd_epi32(round_clamp<Imm>(v0, lo, hi)),
                                  _mm256_cvtpd_epi32(round_clamp<Imm>(v1, lo, hi)),
                                  _mm256_cvtpd_epi32(round_clamp<Imm>(v2, lo, hi)),
                                  _mm256_cvtpd_epi32(round_clamp<Imm>(v3, lo, hi)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    return std::nullopt;
}

template <class F>
CastResult u8_clamp_run(std::span<const F> src, std::span<std::uint8_t> dst, RoundingMode mode) {
    const auto one = [mode](F v, std::uint8_t& out) { return clamp_one(v, mode, out); };
    return with_round_imm(
        mode,
        [&](auto imm) {
            constexpr int kImm = decltype(imm)::value;
            if constexpr (std::is_same_v<F, float>) {
                return run_blocks<kU8Block>(src, dst, f32_to_u8_block<kImm>, one);
            } else {
                return run_blocks<kU8Block>(src, dst, f64_to_u8_block<kImm>, one);
            }
        },
        [&] { return run_all_scalar(src, dst, one); });
}

// Groups of stored results are tested for an infinite magnitude at once;
// only a group holding one is looked at element by element.
CastResult scan_overflow_groups(const double* in, const float* out, std::size_t n) {
    const __m128 abs_mask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128 inf = _mm_set1_ps(std::numeric_limits<float>::infinity());
    std::size_t i = 0;
    for (; i + kOverflowScanGroup <= n; i += kOverflowScanGroup) {
        const __m128 magnitude = _mm_and_ps(_mm_loadu_ps(out + i), abs_mask);
        if (_mm_movemask_ps(_mm_cmpeq_ps(magnitude, inf)) != 0) {
            CastResult group = scan_f32_overflow(in, out, i, i + kOverflowScanGroup);
            if (!group.ok()) return group;
        }
    }
    return scan_f32_overflow(in, out, i, n);
}

// 32 results per 32-byte store.
constexpr std::size_t kI32ToU8Block = 32;

inline std::uint8_t clamp_i32_to_u8(std::int32_t v) {
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Saturating packs clamp exactly: int32 to int16, then int16 to [0, 255].
// They work within 128-bit halves, leaving 4-byte groups in the order
// a0 b0 c0 d0 | a1 b1 c1 d1, which the permute puts back in index order.
inline __m256i pack_i32_to_u8(const std::int32_t* in) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 8));
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 16));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 24));
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d));
    return _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

}  // namespace

void i32_to_u8_clamp(std::span<const std::int32_t> src, std::span<std::uint8_t> dst) {
    const std::size_t n = std::min(src.size(), dst.size());
    const std::int32_t* in = src.data();
    std::uint8_t* out = dst.data();
    std::size_t i = 0;
    for (; i + kI32ToU8Block <= n; i += kI32ToU8Block) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), pack_i32_to_u8(in + i));
    }
    for (; i < n; ++i) out[i] = clamp_i32_to_u8(in[i]);
}

CastResult f32_to_u8_clamp(std::span<const float> src, std::span<std::uint8_t> dst, RoundingMode mode) {
    return u8_clamp_run(src, dst, mode);
}

CastResult f64_to_u8_clamp(std::span<const double> src, std::span<std::uint8_t> dst, RoundingMode mode) {
    return u8_clamp_run(src, dst, mode);
}

CastResult f64_to_i32_clamp(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode) {
    return f64_to_i32_clamp_run(src, dst, mode,
                                [mode](double v, std::int32_t& out) { return clamp_one(v, mode, out); });
}

CastResult f64_to_i32_check(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode) {
    return f64_to_i32_check_run(src, dst, mode);
}

CastResult f64_to_f32_nearest(std::span<const double> src, std::span<float> dst, bool check) {
    const std::size_t n = std::min(src.size(), dst.size());
    const bool may_overflow = f64_to_f32_convert(src.data(), dst.data(), n);
    return check && may_overflow ? scan_overflow_groups(src.data(), dst.data(), n) : CastResult(Ok{});
}

}  // namespace quellon::simd::avx2
