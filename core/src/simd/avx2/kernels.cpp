// Compiled with -mavx2 -mfma -mbmi -mbmi2 -mlzcnt -mpopcnt -msse4.2.
#include "simd/avx_common.h"
#include "simd/tiers.h"

namespace quellon::simd::avx2 {

namespace {

// 16 results leave in one 16-byte store; a group of two blocks in one
// 32-byte store.
constexpr std::size_t kU8Block = 16;
constexpr std::size_t kU8Group = 2;
constexpr std::size_t kOverflowScanGroup = 4;
// 32 results per 32-byte store.
constexpr std::size_t kI32ToU8Block = 32;
// 32 float32 lanes to 16-bit results, two 32-byte stores per block.
constexpr std::size_t kF32To16Block = 32;

inline __m128i pack_u8(__m128i a, __m128i b, __m128i c, __m128i d) {
    return _mm_packus_epi16(_mm_packus_epi32(a, b), _mm_packus_epi32(c, d));
}

// Saturating packs clamp exactly: int32 to int16, then int16 to [0, 255].
// They work within 128-bit halves, leaving 4-byte groups in the order
// a0 b0 c0 d0 | a1 b1 c1 d1, which the permute puts back in index order.
inline __m256i pack_u8(__m256i a, __m256i b, __m256i c, __m256i d) {
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d));
    return _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

// The packs saturate as T does; they interleave 128-bit halves, which the
// permute undoes.
template <class T>
inline void store_16bit(__m256i a, __m256i b, T* out) {
    const __m256i packed = std::is_signed_v<T> ? _mm256_packs_epi32(a, b) : _mm256_packus_epi32(a, b);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0)));
}

// Clamping to integral bounds commutes with every rounding, so the bounds go
// on first and the conversion rounds (nearest even under the default
// control, truncation for towards-zero); only the other modes round apart.
template <int Imm>
inline __m256i f32_to_i32_clamped(__m256 v, __m256 lo, __m256 hi) {
    const __m256 c = _mm256_min_ps(_mm256_max_ps(v, lo), hi);
    if constexpr (Imm == (_MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC)) {
        return _mm256_cvtps_epi32(c);
    } else if constexpr (Imm == (_MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)) {
        return _mm256_cvttps_epi32(c);
    } else {
        return _mm256_cvtps_epi32(_mm256_round_ps(c, Imm));
    }
}

// Four vectors of float32 lanes, clamped to T's range and converted to
// int32 under the rounding of Imm; false, with nothing converted, when a
// lane is NaN.
template <class T, int Imm>
inline bool f32_quad_to_i32(const float* in, __m256i (&q)[4]) {
    using B = VectorBounds<float, T>;
    const __m256 v0 = _mm256_loadu_ps(in);
    const __m256 v1 = _mm256_loadu_ps(in + kF32Lanes);
    const __m256 v2 = _mm256_loadu_ps(in + 2 * kF32Lanes);
    const __m256 v3 = _mm256_loadu_ps(in + 3 * kF32Lanes);
    if (any_lane(_mm256_or_ps(_mm256_or_ps(nan_lanes(v0), nan_lanes(v1)),
                              _mm256_or_ps(nan_lanes(v2), nan_lanes(v3))))) {
        return false;
    }
    const __m256 lo = B::lo_ps();
    const __m256 hi = B::hi_ps();
    q[0] = f32_to_i32_clamped<Imm>(v0, lo, hi);
    q[1] = f32_to_i32_clamped<Imm>(v1, lo, hi);
    q[2] = f32_to_i32_clamped<Imm>(v2, lo, hi);
    q[3] = f32_to_i32_clamped<Imm>(v3, lo, hi);
    return true;
}

template <int Imm>
StepError f32_to_u8_block(const float* in, std::uint8_t* out) {
    using B = VectorBounds<float, std::uint8_t>;
    const __m256 a = _mm256_loadu_ps(in);
    const __m256 b = _mm256_loadu_ps(in + kF32Lanes);
    if (any_lane(_mm256_or_ps(nan_lanes(a), nan_lanes(b)))) return first_nan(in, kU8Block);
    const __m256i w = _mm256_packus_epi32(f32_to_i32_clamped<Imm>(a, B::lo_ps(), B::hi_ps()),
                                          f32_to_i32_clamped<Imm>(b, B::lo_ps(), B::hi_ps()));
    // a0-3 b0-3 | a4-7 b4-7 after the pack; the permute restores index order.
    const __m256i ordered = _mm256_permute4x64_epi64(w, _MM_SHUFFLE(3, 1, 2, 0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_packus_epi16(_mm256_castsi256_si128(ordered), _mm256_extracti128_si256(ordered, 1)));
    return std::nullopt;
}

// Both blocks of a group when neither holds a NaN; false, nothing stored,
// otherwise.
template <int Imm>
struct F32ToU8Group {
    [[gnu::always_inline]] bool operator()(const float* in, std::uint8_t* out) const {
        static_assert(kU8Group * kU8Block == 4 * kF32Lanes);
        __m256i q[4];
        if (!f32_quad_to_i32<std::uint8_t, Imm>(in, q)) return false;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), pack_u8(q[0], q[1], q[2], q[3]));
        return true;
    }
};

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
                return run_block_groups<kU8Block, kU8Group>(
                    src, dst, F32ToU8Group<kImm>{},
                    [](const F* in, std::uint8_t* out) { return f32_to_u8_block<kImm>(in, out); }, one);
            } else {
                return run_blocks<kU8Block>(
                    src, dst, [](const F* in, std::uint8_t* out) { return f64_to_u8_block<kImm>(in, out); }, one);
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

inline std::uint8_t clamp_i32_to_u8(std::int32_t v) {
    return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

inline __m256i load_i32(const std::int32_t* in) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in)); }

// false, with nothing stored, when the block holds a NaN.
template <class T, int Imm>
bool f32_to_16bit_block(const float* in, T* out) {
    static_assert(kF32To16Block == 4 * kF32Lanes);
    __m256i q[4];
    if (!f32_quad_to_i32<T, Imm>(in, q)) return false;
    store_16bit(q[0], q[1], out);
    store_16bit(q[2], q[3], out + 2 * kF32Lanes);
    return true;
}

// The block holding a NaN goes element by element up to it, so the elements
// before a failure are stored exactly as the element loop stores them.
template <class T>
CastResult f32_to_16bit_clamp(std::span<const float> src, std::span<T> dst, RoundingMode mode) {
    const auto one = [mode](float v, T& out) { return clamp_one(v, mode, out); };
    return with_round_imm(
        mode,
        [&](auto imm) {
            constexpr int kImm = decltype(imm)::value;
            const std::size_t n = std::min(src.size(), dst.size());
            const float* in = src.data();
            T* out = dst.data();
            std::size_t i = 0;
            while (i + kF32To16Block <= n && f32_to_16bit_block<T, kImm>(in + i, out + i)) i += kF32To16Block;
            return run_scalar(in, out, i, n, one);
        },
        [&] { return run_all_scalar(src, dst, one); });
}

}  // namespace

void i32_to_u8_clamp(std::span<const std::int32_t> src, std::span<std::uint8_t> dst) {
    const std::size_t n = std::min(src.size(), dst.size());
    const std::int32_t* in = src.data();
    std::uint8_t* out = dst.data();
    std::size_t i = 0;
    for (; i + kI32ToU8Block <= n; i += kI32ToU8Block) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            pack_u8(load_i32(in + i), load_i32(in + i + 8), load_i32(in + i + 16), load_i32(in + i + 24)));
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
    const bool stored_inf = f64_to_f32_convert(src.data(), dst.data(), n);
    return check && stored_inf ? scan_overflow_groups(src.data(), dst.data(), n) : CastResult(Ok{});
}

CastResult f32_to_i16_clamp(std::span<const float> src, std::span<std::int16_t> dst, RoundingMode mode) {
    return f32_to_16bit_clamp(src, dst, mode);
}

CastResult f32_to_u16_clamp(std::span<const float> src, std::span<std::uint16_t> dst, RoundingMode mode) {
    return f32_to_16bit_clamp(src, dst, mode);
}

}  // namespace quellon::simd::avx2
