// Compiled with -mf16c -mavx; entered only when the processor has F16C.
#include <immintrin.h>

#include <bit>

#include "float16_impls.h"

namespace quellon::float16_route {

namespace {
constexpr std::size_t kF16cBlock = 8;  // one 256-bit vector of binary32
}  // namespace

float to_float32_f16c(Float16 h) { return _cvtsh_ss(h.bits); }

Float16 from_float32_f16c(float f) {
    return Float16::from_bits(static_cast<std::uint16_t>(_cvtss_sh(f, _MM_FROUND_TO_NEAREST_INT)));
}

void to_float32_run_f16c(const Float16* src, float* dst, std::size_t n) {
    std::size_t i = 0;
    for (; i + kF16cBlock <= n; i += kF16cBlock) {
        const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        _mm256_storeu_ps(dst + i, _mm256_cvtph_ps(h));
    }
    for (; i < n; ++i) dst[i] = to_float32_f16c(src[i]);
}

void from_float32_run_f16c(const float* src, Float16* dst, std::size_t n) {
    std::size_t i = 0;
    for (; i + kF16cBlock <= n; i += kF16cBlock) {
        const __m128i h = _mm256_cvtps_ph(_mm256_loadu_ps(src + i), _MM_FROUND_TO_NEAREST_INT);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), h);
    }
    for (; i < n; ++i) dst[i] = from_float32_f16c(src[i]);
}

}  // namespace quellon::float16_route
