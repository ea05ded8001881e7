#pragma once

#include <cstdint>

namespace quellon {

// Processor features, queried once per process (CPUID, and XGETBV for the
// operating system's 256-bit register state) and cached.
struct CpuFeatures {
    bool avx = false;        // AVX usable: reported by the processor and enabled by the OS
    bool avx2_tier = false;  // AVX2, FMA, BMI1/2, LZCNT, POPCNT, SSE3..SSE4.2 and usable AVX
    bool f16c = false;       // counts only when AVX is usable too
};

const CpuFeatures& cpu_features();

// The raw answers the features are decoded from. Leaves the processor does
// not report are zero.
struct CpuidWords {
    std::uint32_t leaf1_ecx = 0;
    std::uint32_t leaf7_ebx = 0;   // leaf 7, subleaf 0
    std::uint32_t ext1_ecx = 0;    // leaf 0x80000001
    std::uint64_t xcr0 = 0;        // read only when OSXSAVE is reported
};

CpuFeatures decode_cpu_features(const CpuidWords& words);

enum class KernelTier { Avx2, Avx, Generic };

constexpr KernelTier select_kernel_tier(const CpuFeatures& f) {
    return f.avx2_tier ? KernelTier::Avx2 : f.avx ? KernelTier::Avx : KernelTier::Generic;
}

}  // namespace quellon
