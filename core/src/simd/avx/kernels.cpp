// Compiled with -mavx only.
#include "simd/avx_common.h"
#include "simd/tiers.h"

namespace quellon::simd::avx {

namespace {

constexpr std::size_t kF32ToU8Block = kF32Lanes;
constexpr std::size_t kF64ToU8Block = kF64Lanes;

// AVX has no 256-bit integer packs: the bytes leave lane by lane.
template <std::size_t Lanes>
void store_bytes(const std::int32_t (&lanes)[Lanes], std::uint8_t* out) {
    for (std::size_t k = 0; k < Lanes; ++k) out[k] = static_cast<std::uint8_t>(lanes[k]);
}

template <int Imm>
StepError f32_to_u8_block(const float* in, std::uint8_t* out) {
    using B = VectorBounds<float, std::uint8_t>;
    const __m256 v = _mm256_loadu_ps(in);
    if (any_lane(nan_lanes(v))) return first_nan(in, kF32ToU8Block);
    std::int32_t lanes[kF32ToU8Block];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes),
                        _mm256_cvtps_epi32(round_clamp<Imm>(v, B::lo_ps(), B::hi_ps())));
    store_bytes(lanes, out);
    return std::nullopt;
}

template <int Imm>
StepError f64_to_u8_block(const double* in, std::uint8_t* out) {
    using B = VectorBounds<double, std::uint8_t>;
    const __m256d v = _mm256_loadu_pd(in);
    if (any_lane(nan_lanes(v))) return first_nan(in, kF64ToU8Block);
    std::int32_t lanes[kF64ToU8Block];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), _mm256_cvtpd_epi32(round_clamp<Imm>(v, B::lo_pd(), B::hi_pd())));
    store_bytes(lanes, out);
    return std::nullopt;
}

template <class F>
CastResult u8_clamp_run(std::span<const F> src, std::span<std::uint8_t> dst, RoundingMode mode) {
    constexpr std::size_t block = std::is_same_v<F, float> ? kF32ToU8Block : kF64ToU8Block;
    const auto one = [mode](F v, std::uint8_t& out) { return clamp_one(v, mode, out); };
    return with_round_imm(
        mode,
        [&](auto imm) {
            constexpr int kImm = decltype(imm)::value;
            if constexpr (std::is_same_v<F, float>) {
                return run_blocks<block>(src, dst, [](const F* in, std::uint8_t* out) { return f32_to_u8_block<kImm>(in, out); }, one);
            } else {
                return run_blocks<block>(src, dst, [](const F* in, std::uint8_t* out) { return f64_to_u8_block<kImm>(in, out); }, one);
            }
        },
        [&] { return run_all_scalar(src, dst, one); });
}

}  // namespace

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

// Element-by-element scan after the conversion, when an input was large enough.
CastResult f64_to_f32_nearest(std::span<const double> src, std::span<float> dst, bool check) {
    const std::size_t n = std::min(src.size(), dst.size());
    const bool stored_inf = f64_to_f32_convert(src.data(), dst.data(), n);
    return check && stored_inf ? scan_f32_overflow(src.data(), dst.data(), 0, n) : CastResult(Ok{});
}

}  // namespace quellon::simd::avx
