#include "cpu_features.h"

#include <cpuid.h>

namespace quellon {
namespace {

namespace leaf1 {
constexpr std::uint32_t kSse3 = 1u << 0;
constexpr std::uint32_t kSsse3 = 1u << 9;
constexpr std::uint32_t kFma = 1u << 12;
constexpr std::uint32_t kSse41 = 1u << 19;
constexpr std::uint32_t kSse42 = 1u << 20;
constexpr std::uint32_t kPopcnt = 1u << 23;
constexpr std::uint32_t kXsave = 1u << 26;
constexpr std::uint32_t kOsxsave = 1u << 27;
constexpr std::uint32_t kAvx = 1u << 28;
constexpr std::uint32_t kF16c = 1u << 29;
}  // namespace leaf1

namespace leaf7 {
constexpr std::uint32_t kBmi1 = 1u << 3;
constexpr std::uint32_t kAvx2 = 1u << 5;
constexpr std::uint32_t kBmi2 = 1u << 8;
}  // namespace leaf7

constexpr std::uint32_t kExtLzcnt = 1u << 5;

// XCR0: SSE (bit 1) and AVX (bit 2) register state saved by the OS.
constexpr std::uint64_t kXcr0SseAvx = 0x6;

constexpr bool has_all(std::uint32_t word, std::uint32_t bits) { return (word & bits) == bits; }

// XGETBV is written as raw asm so this file needs no XSAVE compile flag;
// it is only executed when the processor reports OSXSAVE.
std::uint64_t read_xcr0() {
    std::uint32_t eax = 0;
    std::uint32_t edx = 0;
    __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
    return (static_cast<std::uint64_t>(edx) << 32) | eax;
}

CpuidWords query_cpuid() {
    CpuidWords words;
    unsigned a = 0, b = 0, c = 0, d = 0;
    const unsigned max_leaf = __get_cpuid_max(0, nullptr);
    if (max_leaf >= 1 && __get_cpuid(1, &a, &b, &c, &d)) words.leaf1_ecx = c;
    if (max_leaf >= 7) {
        __cpuid_count(7, 0, a, b, c, d);
        words.leaf7_ebx = b;
    }
    if (__get_cpuid_max(0x80000000u, nullptr) >= 0x80000001u && __get_cpuid(0x80000001u, &a, &b, &c, &d)) {
        words.ext1_ecx = c;
    }
    if (has_all(words.leaf1_ecx, leaf1::kOsxsave)) words.xcr0 = read_xcr0();
    return words;
}

}  // namespace

CpuFeatures decode_cpu_features(const CpuidWords& w) {
    const bool os_saves_avx = has_all(w.leaf1_ecx, leaf1::kXsave | leaf1::kOsxsave) &&
                              (w.xcr0 & kXcr0SseAvx) == kXcr0SseAvx;
    CpuFeatures f;
    f.avx = os_saves_avx && has_all(w.leaf1_ecx, leaf1::kAvx);
    f.f16c = f.avx && has_all(w.leaf1_ecx, leaf1::kF16c);
    f.avx2_tier = f.avx &&
                  has_all(w.leaf1_ecx, leaf1::kSse3 | leaf1::kSsse3 | leaf1::kSse41 | leaf1::kSse42 |
                                           leaf1::kPopcnt | leaf1::kFma) &&
                  has_all(w.leaf7_ebx, leaf7::kAvx2 | leaf7::kBmi1 | leaf7::kBmi2) &&
                  has_all(w.ext1_ecx, kExtLzcnt);
    return f;
}

// Two threads racing through the first call compute the same answer.
const CpuFeatures& cpu_features() {
    static const CpuFeatures features = decode_cpu_features(query_cpuid());
    return features;
}

}  // namespace quellon
