#include "simd/cpu_features.h"
#include "simd/kernels.h"
#include "simd/tiers.h"

namespace quellon {

namespace {

template <class S, class T, class Param>
using TierFn = CastResult (*)(std::span<const S>, std::span<T>, Param);

// Chosen on the first call and kept for the life of the process.
KernelTier active_tier() {
    static const KernelTier tier = select_kernel_tier(cpu_features());
    return tier;
}

// `generic` is null for the conversions without a plain tier: those are
// declined on processors without usable AVX, with nothing written.
template <class S, class T, class Param>
KernelResult run_tier(TierFn<S, T, Param> avx2, TierFn<S, T, Param> avx, TierFn<S, T, Param> generic,
                      std::span<const S> src, std::span<T> dst, Param param) {
    TierFn<S, T, Param> chosen = nullptr;
    switch (active_tier()) {
        case KernelTier::Avx2: chosen = avx2; break;
        case KernelTier::Avx: chosen = avx; break;
        case KernelTier::Generic: chosen = generic; break;
    }
    if (chosen == nullptr) return false;
    CastResult result = chosen(src, dst, param);
    if (!result.ok()) return result.error();
    return true;
}

// The vector round instruction has no ties-away control, and the callers
// convert NearestAway in their own loops; a run offered with it anyway is
// declined rather than trusted to a kernel.
bool declined(RoundingMode mode) { return mode == RoundingMode::NearestAway; }

}  // namespace

KernelResult try_f32_to_u8_clamp(std::span<const float> src, std::span<std::uint8_t> dst, RoundingMode mode) {
    if (declined(mode)) return false;
    return run_tier<float, std::uint8_t, RoundingMode>(simd::avx2::f32_to_u8_clamp, simd::avx::f32_to_u8_clamp,
                                                       simd::generic::f32_to_u8_clamp, src, dst, mode);
}

KernelResult try_f64_to_u8_clamp(std::span<const double> src, std::span<std::uint8_t> dst, RoundingMode mode) {
    if (declined(mode)) return false;
    return run_tier<double, std::uint8_t, RoundingMode>(simd::avx2::f64_to_u8_clamp, simd::avx::f64_to_u8_clamp,
                                                        simd::generic::f64_to_u8_clamp, src, dst, mode);
}

KernelResult try_f64_to_i32_clamp(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode) {
    if (declined(mode)) return false;
    return run_tier<double, std::int32_t, RoundingMode>(simd::avx2::f64_to_i32_clamp, simd::avx::f64_to_i32_clamp,
                                                        simd::generic::f64_to_i32_clamp, src, dst, mode);
}

KernelResult try_f64_to_i32_check(std::span<const double> src, std::span<std::int32_t> dst, RoundingMode mode) {
    if (declined(mode)) return false;
    return run_tier<double, std::int32_t, RoundingMode>(simd::avx2::f64_to_i32_check, simd::avx::f64_to_i32_check,
                                                        nullptr, src, dst, mode);
}

KernelResult try_f64_to_f32_nearest(std::span<const double> src, std::span<float> dst, bool check) {
    return run_tier<double, float, bool>(simd::avx2::f64_to_f32_nearest, simd::avx::f64_to_f32_nearest, nullptr, src,
                                         dst, check);
}

bool try_i32_to_u8_clamp(std::span<const std::int32_t> src, std::span<std::uint8_t> dst) {
    if (active_tier() != KernelTier::Avx2) return false;
    simd::avx2::i32_to_u8_clamp(src, dst);
    return true;
}

template <class T>
KernelResult avx2_only(CastResult (*kernel)(std::span<const float>, std::span<T>, RoundingMode),
                       std::span<const float> src, std::span<T> dst, RoundingMode mode) {
    if (declined(mode) || active_tier() != KernelTier::Avx2) return false;
    CastResult result = kernel(src, dst, mode);
    if (!result.ok()) return result.error();
    return true;
}

KernelResult try_f32_to_i16_clamp(std::span<const float> src, std::span<std::int16_t> dst, RoundingMode mode) {
    return avx2_only(simd::avx2::f32_to_i16_clamp, src, dst, mode);
}

KernelResult try_f32_to_u16_clamp(std::span<const float> src, std::span<std::uint16_t> dst, RoundingMode mode) {
    return avx2_only(simd::avx2::f32_to_u16_clamp, src, dst, mode);
}

}  // namespace quellon
