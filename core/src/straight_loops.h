#pragma once

#include <cstddef>

namespace quellon {

// Whole-run loops that the compiler vectorises. Each is built three times,
// for AVX-512 (x86-64-v4), for AVX2 and for the x86-64 baseline, and the copy
// the processor supports is chosen when the module loads. The copies compute
// the same values; only the instructions differ (AVX-512 converts int64 and
// narrows with saturation in one instruction each, on 256-bit vectors).
// clang does not take target_clones on templates yet and builds the
// baseline copy alone.
#if defined(__clang__)
#define QUELLON_VECTOR_CLONES
#else
#define QUELLON_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#endif

template <class S, class T, class Op>
QUELLON_VECTOR_CLONES void map_run(const S* in, T* out, std::size_t n, Op op) {
    for (std::size_t i = 0; i < n; ++i) out[i] = op(in[i]);
}

// Whether pred holds anywhere in the run, as one vectorised reduction.
template <class S, class Pred>
QUELLON_VECTOR_CLONES bool any_in_run(const S* in, std::size_t n, Pred pred) {
    unsigned any = 0;  // an integer reduction: a bool one keeps the loop scalar
    for (std::size_t i = 0; i < n; ++i) any |= static_cast<unsigned>(pred(in[i]));
    return any != 0;
}

inline constexpr std::size_t kCheckedBlock = 256;

// map_run for conversions that can fail: each block is first tested as a
// whole (a vectorised reduction of `suspect`, which must hold wherever `fails`
// does and may be cheaper) and then converted straight; a suspect block is
// converted element by element up to its first failing element.
// Returns the index of the first failing element, or n.
template <class S, class T, class Suspect, class Fails, class Op>
QUELLON_VECTOR_CLONES std::size_t map_run_until(const S* in, T* out, std::size_t n, Suspect suspect, Fails fails,
                                                Op op) {
    for (std::size_t start = 0; start < n; start += kCheckedBlock) {
        const std::size_t end = n - start < kCheckedBlock ? n : start + kCheckedBlock;
        unsigned any = 0;
        for (std::size_t i = start; i < end; ++i) any |= static_cast<unsigned>(suspect(in[i]));
        if (!any) {
            for (std::size_t i = start; i < end; ++i) out[i] = op(in[i]);
            continue;
        }
        for (std::size_t i = start; i < end; ++i) {
            if (fails(in[i])) return i;
            out[i] = op(in[i]);
        }
    }
    return n;
}

template <class S, class T, class Fails, class Op>
std::size_t map_run_until(const S* in, T* out, std::size_t n, Fails fails, Op op) {
    return map_run_until(in, out, n, fails, fails, op);
}

}  // namespace quellon
