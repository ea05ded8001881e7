// libFuzzer target over the conversion core. The bytes choose a pair of
// element types, the two modes, a short scalar map and a run of source
// values; the run is converted by the pair's family and, where a vector
// kernel serves the pair, by every kernel tier this processor can run.
//
// What is checked, beyond the sanitizers' own reports:
// - every result is rebuilt from single-element conversions (the family's
//   element loop, one element at a time): the error, the stored values, and
//   which destination elements were touched at all;
// - an element loop (and every loop that is not a vector kernel) stores
//   nothing at or after the failing index; a kernel stores whole blocks
//   only, by its tier's block size, and the float64-to-float32 kernel stores
//   the whole run before it looks for an overflow;
// - a mapped element always receives its mapped value;
// - integer pairs, identical pairs and exact widenings also against an
//   arithmetic of their own; error numbers survive their formatting.
// A disagreement prints what differs and aborts, which libFuzzer records.

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "convert.h"
#include "simd/cpu_features.h"
#include "simd/kernels.h"
#include "simd/tiers.h"

namespace {

using namespace quellon;

// Long enough to cross the 256-element blocks of the float loops.
constexpr std::size_t kMaxElements = 600;
constexpr std::size_t kMaxMapEntries = 3;

const char* g_context = "";

[[noreturn]] void fail(const char* fmt, ...) {
    std::fprintf(stderr, "\n*** disagreement (%s): ", g_context);
    va_list args;
    va_start(args, fmt);
    std::vfprintf(stderr, fmt, args);
    va_end(args);
    std::fprintf(stderr, "\n");
    std::abort();
}

// ---------------------------------------------------------------- bytes

template <std::size_t N>
struct UintOf;
template <>
struct UintOf<1> { using type = std::uint8_t; };
template <>
struct UintOf<2> { using type = std::uint16_t; };
template <>
struct UintOf<4> { using type = std::uint32_t; };
template <>
struct UintOf<8> { using type = std::uint64_t; };

template <class X>
using BitsOf = typename UintOf<sizeof(X)>::type;

template <class X>
BitsOf<X> bits_of(X x) {
    BitsOf<X> b;
    std::memcpy(&b, &x, sizeof x);
    return b;
}

template <class X>
X from_bits(BitsOf<X> b) {
    X x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

template <class X>
unsigned long long show(X x) {
    return static_cast<unsigned long long>(bits_of(x));
}

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return pos_ >= size_; }
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    template <class U>
    U raw() {
        U u = 0;
        for (std::size_t k = 0; k < sizeof(U); ++k) u = static_cast<U>(u | static_cast<U>(static_cast<U>(byte()) << (8 * k)));
        return u;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// ---------------------------------------------------------------- values

// Edges of the eleven ranges, of the kernels' bounds and of the float
// formats; the reader nudges them by a few units of the last place.
const double kEdges[] = {
    0.0,          0.5,           1.0,           1.5,          2.5,           127.0,
    127.5,        128.0,         128.5,         254.5,        255.0,         255.5,
    256.0,        32767.0,       32767.5,       32768.0,      65504.0,       65519.0,
    65520.0,      65535.0,       65535.5,       65536.0,      2147483647.0,  2147483647.5,
    2147483648.0, 2147483648.5,  4294967295.0,  4294967296.0, 0x1p53,        0x1p63,
    0x1p64,       0x1p24,        0x1.fffffep127, 0x1.ffffffp127, 0x1p128,    1e300,
    0x1p-14,      0x1p-24,       0x1p-25,       0x1p-126,     0x1p-149,      0x1p-150,
    0x1p-1074,    0x1.fffffffffffffp1023, 1e39, 1e-40,        1e-46,         0x1p31,
    0x1p15,       0x1p7,         0x1p32,        0x1p16,       0x1p8,         9007199254740993.0,
    0.25,         0.75,          2047.0,        2048.0,       2049.0,        4097.0,
    16777217.0,   1e10,          1e19,          1.8446744073709552e19,
};
constexpr std::size_t kEdgeCount = sizeof(kEdges) / sizeof(kEdges[0]);

template <class X>
X value_from_double(double d) {
    if constexpr (IntegerElement<X>) {
        constexpr double lo = static_cast<double>(std::numeric_limits<X>::min());
        constexpr double end = static_cast<double>(std::numeric_limits<X>::max() / 2 + 1) * 2.0;
        if (d != d) return 0;
        if (d <= lo) return std::numeric_limits<X>::min();
        if (d >= end) return std::numeric_limits<X>::max();
        return static_cast<X>(d);
    } else {
        const float max = std::numeric_limits<float>::max();
        const float f = d > max ? std::numeric_limits<float>::infinity()
                        : d < -max ? -std::numeric_limits<float>::infinity()
                                   : static_cast<float>(d);
        if constexpr (std::is_same_v<X, Float16>) {
            return float32_to_float16(f);
        } else if constexpr (std::is_same_v<X, float>) {
            return f;
        } else {
            return d;
        }
    }
}

template <class X>
X special_value(std::uint8_t b) {
    if constexpr (IntegerElement<X>) {
        constexpr X lo = std::numeric_limits<X>::min();
        constexpr X hi = std::numeric_limits<X>::max();
        const X table[] = {lo, hi, static_cast<X>(lo + 1), static_cast<X>(hi - 1), 0, static_cast<X>(-1), 1};
        return table[b % 7];
    } else {
        using B = BitsOf<X>;
        constexpr int width = 8 * sizeof(X);
        constexpr int mant = std::is_same_v<X, Float16> ? 10 : std::is_same_v<X, float> ? 23 : 52;
        constexpr B sign = static_cast<B>(B(1) << (width - 1));
        constexpr B exp_all = static_cast<B>(static_cast<B>(static_cast<B>(~B(0)) >> 1) & ~((B(1) << mant) - 1));
        constexpr B quiet = static_cast<B>(B(1) << (mant - 1));
        const B s = (b & 0x80) ? sign : B(0);
        switch ((b & 0x7F) % 9) {
            case 0: return from_bits<X>(static_cast<B>(s | exp_all));                    // infinity
            case 1: return from_bits<X>(static_cast<B>(s | exp_all | quiet));            // quiet NaN
            case 2: return from_bits<X>(static_cast<B>(s | exp_all | 1));                // signalling NaN
            case 3: return from_bits<X>(static_cast<B>(s | exp_all | quiet | (b >> 3)));  // NaN with payload
            case 4: return from_bits<X>(s);                                              // signed zero
            case 5: return from_bits<X>(static_cast<B>(s | 1));                          // smallest subnormal
            case 6: return from_bits<X>(static_cast<B>(s | (exp_all - 1)));              // largest finite
            case 7: return from_bits<X>(static_cast<B>(s | (B(1) << mant)));             // smallest normal
            default: return from_bits<X>(static_cast<B>(s | ((B(1) << mant) - 1)));      // largest subnormal
        }
    }
}

// One value per call: a selector byte, then its payload.
template <class X>
X read_value(Reader& r) {
    const std::uint8_t sel = r.byte();
    switch (sel & 7) {
        case 3: {
            const auto k = static_cast<std::int8_t>(r.byte());
            if constexpr (IntegerElement<X>) {
                return static_cast<X>(k);
            } else {
                return value_from_double<X>(k * 0.25);
            }
        }
        case 4:
        case 5: {
            const std::uint8_t b = r.byte();
            const double edge = kEdges[((sel >> 3) + ((sel & 7) == 5 ? 32 : 0)) % kEdgeCount];
            const X v = value_from_double<X>((b & 1) ? -edge : edge);
            const int nudge = static_cast<int>((b >> 1) % 7) - 3;
            // On the bit pattern: a step of one unit for floats, of one for integers.
            return from_bits<X>(static_cast<BitsOf<X>>(bits_of(v) + static_cast<BitsOf<X>>(nudge)));
        }
        case 6: return special_value<X>(r.byte());
        case 7: {
            const auto k = r.raw<std::int16_t>();
            if constexpr (IntegerElement<X>) {
                return static_cast<X>(k);
            } else {
                return value_from_double<X>(k + 0.5);
            }
        }
        default: return from_bits<X>(r.raw<BitsOf<X>>());
    }
}

// ---------------------------------------------------------------- helpers

template <class X>
bool is_nan_of(X x) {
    if constexpr (IntegerElement<X>) {
        return false;
    } else {
        return is_nan_value(x);
    }
}

// The map's matching rule, written out again: integers by equality, floats
// by IEEE equality except that NaN matches NaN.
template <class X>
bool covers(X entry, X element) {
    if constexpr (IntegerElement<X>) {
        return entry == element;
    } else if constexpr (std::is_same_v<X, Float16>) {
        if (element.is_nan()) return entry.is_nan();
        if (entry.is_nan()) return false;
        return entry.bits == element.bits || ((entry.bits & 0x7FFF) == 0 && (element.bits & 0x7FFF) == 0);
    } else {
        if (element != element) return entry != entry;
        return entry == element;
    }
}

template <class S, class T>
const T* mapped_value(const ScalarMap<S, T>& map, S x) {
    for (const auto& entry : map.entries()) {
        if (covers(entry.first, x)) return &entry.second;
    }
    return nullptr;
}

// A map source value that covers none of `values`, if one is found.
template <class S>
std::optional<S> uncovered_value(std::span<const S> values) {
    for (int k = 0; k < 600; ++k) {
        S candidate;
        if constexpr (IntegerElement<S>) {
            candidate = static_cast<S>(k * 37 + 11);
        } else {
            candidate = value_from_double<S>(1.0 + k);
        }
        bool hit = false;
        for (S v : values) hit = hit || covers(candidate, v);
        if (!hit) return candidate;
    }
    return std::nullopt;
}

bool same_error(const CastError& a, const CastError& b) {
    return a.kind == b.kind && bits_of(a.value) == bits_of(b.value) && bits_of(a.lo) == bits_of(b.lo) &&
           bits_of(a.hi) == bits_of(b.hi);
}

std::string describe(const CastResult& r) {
    if (r.ok()) return "ok";
    const CastError& e = r.error();
    char buf[160];
    std::snprintf(buf, sizeof buf, "%s value=%a lo=%a hi=%a",
                  e.kind == CastError::Kind::NotCastable ? "NotCastable" : "OutOfRange", e.value, e.lo, e.hi);
    return buf;
}

// Error numbers are written with the shortest digits that read back to the
// same float64.
void check_message(const CastError& e) {
    const std::string text = e.message();
    if (text.empty()) fail("empty error message");
    const double numbers[] = {e.value, e.lo, e.hi};
    for (double v : numbers) {
        const std::string s = format_number(v);
        if (std::isnan(v)) {
            if (s != "NaN") fail("NaN formatted as %s", s.c_str());
            continue;
        }
        if (std::isinf(v)) continue;
        if (s.find_first_of("eE") != std::string::npos) fail("%a formatted with an exponent: %s", v, s.c_str());
        const double back = std::strtod(s.c_str(), nullptr);
        if (bits_of(back) != bits_of(v)) fail("%a formatted as %s reads back as %a", v, s.c_str(), back);
    }
}

// ---------------------------------------------------------------- observing a destination

// A destination as a call left it: which elements were touched, and what
// they hold. The call runs twice, on destinations filled with two patterns
// that differ in every byte: an element is untouched when it still holds
// its pattern in both, and a stored value must be the same in both.
template <class T>
struct Observed {
    CastResult result = Ok{};
    std::vector<bool> written;
    std::vector<T> values;
};

template <class T, class Call>
Observed<T> observe(std::size_t len, Call&& call) {
    constexpr unsigned char kPattern[2] = {0xA5, 0x5A};
    std::unique_ptr<T[]> buf[2];
    std::optional<CastResult> results[2];
    for (int k = 0; k < 2; ++k) {
        buf[k].reset(new T[len]);
        std::memset(static_cast<void*>(buf[k].get()), kPattern[k], len * sizeof(T));
        results[k] = call(std::span<T>(buf[k].get(), len));
    }
    const bool same = results[0]->ok() == results[1]->ok() &&
                      (results[0]->ok() || same_error(results[0]->error(), results[1]->error()));
    if (!same) fail("two runs differ: %s / %s", describe(*results[0]).c_str(), describe(*results[1]).c_str());

    Observed<T> obs;
    obs.result = *results[0];
    obs.written.resize(len);
    obs.values.resize(len);
    for (std::size_t j = 0; j < len; ++j) {
        T pattern[2];
        std::memset(static_cast<void*>(&pattern[0]), kPattern[0], sizeof(T));
        std::memset(static_cast<void*>(&pattern[1]), kPattern[1], sizeof(T));
        const bool kept0 = std::memcmp(&buf[0][j], &pattern[0], sizeof(T)) == 0;
        const bool kept1 = std::memcmp(&buf[1][j], &pattern[1], sizeof(T)) == 0;
        obs.written[j] = !(kept0 && kept1);
        if (obs.written[j] && std::memcmp(&buf[0][j], &buf[1][j], sizeof(T)) != 0) {
            fail("element %zu depends on the destination's old content: %llx / %llx", j, show(buf[0][j]),
                 show(buf[1][j]));
        }
        obs.values[j] = buf[0][j];
    }
    return obs;
}

// What a call must leave: `result`, the elements [0, stored) holding
// `values`, and every element from `stored` on untouched.
template <class T>
struct Expected {
    CastResult result = Ok{};
    std::size_t stored = 0;
    std::vector<T> values;
};

template <class T>
void compare(const Observed<T>& obs, const Expected<T>& exp, const char* what) {
    const bool same = obs.result.ok() == exp.result.ok() &&
                      (obs.result.ok() || same_error(obs.result.error(), exp.result.error()));
    if (!same) {
        fail("%s: result %s, expected %s", what, describe(obs.result).c_str(), describe(exp.result).c_str());
    }
    if (!obs.result.ok()) check_message(obs.result.error());
    for (std::size_t j = 0; j < obs.written.size(); ++j) {
        if (j < exp.stored) {
            if (!obs.written[j]) fail("%s: element %zu of %zu not stored", what, j, exp.stored);
            if (bits_of(obs.values[j]) != bits_of(exp.values[j])) {
                fail("%s: element %zu is %llx, expected %llx", what, j, show(obs.values[j]), show(exp.values[j]));
            }
        } else if (obs.written[j]) {
            fail("%s: element %zu written, only %zu may be (result %s)", what, j, exp.stored,
                 describe(obs.result).c_str());
        }
    }
}

// ---------------------------------------------------------------- element references

template <class T>
struct ElementRef {
    bool ok = true;
    T value{};
    CastError error{};
};

// Each element goes through the family alone, with a one-entry map that
// does not cover it, so that the family converts it in its element loop.
// Of two distinct non-NaN entries at least one misses any element.
template <class S, class T>
std::vector<ElementRef<T>> element_refs(std::span<const S> src, RoundingMode rounding, OptionalOutOfRange range) {
    CastConfig<S, T> configs[2] = {{rounding, range, {}}, {rounding, range, {}}};
    configs[0].scalar_map.add(value_from_double<S>(1.0), T{});
    configs[1].scalar_map.add(value_from_double<S>(2.0), T{});
    constexpr unsigned char kPattern = 0xA5;
    std::vector<ElementRef<T>> refs(src.size());
    for (std::size_t j = 0; j < src.size(); ++j) {
        const S x = src[j];
        const CastConfig<S, T>& config = covers(configs[0].scalar_map.entries()[0].first, x) ? configs[1] : configs[0];
        T out[1];
        std::memset(static_cast<void*>(out), kPattern, sizeof out);
        const CastResult result = convert_slice<S, T>(src.subspan(j, 1), std::span<T>(out, 1), config);
        ElementRef<T>& ref = refs[j];
        ref.ok = result.ok();
        if (ref.ok) {
            ref.value = out[0];
        } else {
            ref.error = result.error();
            T pattern;
            std::memset(static_cast<void*>(&pattern), kPattern, sizeof pattern);
            if (std::memcmp(&out[0], &pattern, sizeof(T)) != 0) fail("single element %llx: stored and failed", show(x));
        }
    }
    return refs;
}

// The element loop's run: the map first, then the per-element rule, up to
// the first failure.
template <class S, class T>
Expected<T> expect_elementwise(std::span<const S> src, const std::vector<ElementRef<T>>& refs,
                               const ScalarMap<S, T>& map) {
    Expected<T> exp;
    exp.values.resize(src.size());
    for (std::size_t j = 0; j < src.size(); ++j) {
        if (const T* m = mapped_value(map, src[j])) {
            exp.values[j] = *m;
        } else if (refs[j].ok) {
            exp.values[j] = refs[j].value;
        } else {
            exp.result = refs[j].error;
            exp.stored = j;
            return exp;
        }
    }
    exp.stored = src.size();
    return exp;
}

// ---------------------------------------------------------------- independent arithmetic

double f16_value(std::uint16_t b) {
    const int e = (b >> 10) & 0x1F;
    const int m = b & 0x3FF;
    if (e == 0x1F) return m != 0 ? std::nan("") : ((b & 0x8000) ? -INFINITY : INFINITY);
    const double mag = e == 0 ? std::ldexp(m, -24) : std::ldexp(m + 1024, e - 25);
    return (b & 0x8000) ? -mag : mag;
}

template <class X>
long double exact_value(X x) {
    if constexpr (std::is_same_v<X, Float16>) {
        return f16_value(x.bits);
    } else {
        return static_cast<long double>(x);
    }
}

// Checks one element's reference against rules simple enough to state
// without the core: integer pairs entirely, identical pairs bit for bit,
// and conversions that cannot round.
template <class S, class T>
void check_ref(S x, const ElementRef<T>& ref, OptionalOutOfRange range) {
    if constexpr (std::is_same_v<S, T>) {
        if (!ref.ok || bits_of(ref.value) != bits_of(x)) fail("identical pair changed %llx", show(x));
    } else if constexpr (IntegerElement<S> && IntegerElement<T>) {
        const __int128 v = x;
        const __int128 tlo = std::numeric_limits<T>::min();
        const __int128 thi = std::numeric_limits<T>::max();
        const __int128 slo = std::numeric_limits<S>::min();
        const __int128 shi = std::numeric_limits<S>::max();
        if (v >= tlo && v <= thi) {
            if (!ref.ok || static_cast<__int128>(ref.value) != v) fail("in-range %lld not kept", static_cast<long long>(x));
        } else if (!range) {
            const CastError want = CastError::out_of_range(static_cast<double>(x), static_cast<double>(tlo > slo ? tlo : slo),
                                                           static_cast<double>(thi < shi ? thi : shi));
            if (ref.ok || !same_error(ref.error, want)) fail("out-of-range %llx: wrong outcome", show(x));
        } else if (*range == OutOfRangeMode::Clamp) {
            if (!ref.ok || static_cast<__int128>(ref.value) != (v < tlo ? tlo : thi)) fail("clamp of %llx", show(x));
        } else {
            if (!ref.ok || ref.value != static_cast<T>(x)) fail("wrap of %llx", show(x));
        }
    } else if constexpr (IntegerElement<S> && FloatElement<T>) {
        if (!ref.ok) fail("integer-to-float %llx failed", show(x));
        if constexpr (std::numeric_limits<S>::digits <= (std::is_same_v<T, Float16> ? 11 : std::numeric_limits<T>::digits)) {
            if (exact_value(ref.value) != static_cast<long double>(x)) fail("exact %llx not kept", show(x));
        }
    } else if constexpr (FloatElement<S> && FloatElement<T> && sizeof(S) < sizeof(T)) {
        if (!ref.ok) fail("widening %llx failed", show(x));
        if (is_nan_of(x)) {
            const bool sx = std::is_same_v<S, Float16> ? (bits_of(x) >> 15) != 0 : std::signbit(exact_value(x));
            if (!is_nan_of(ref.value) || std::signbit(exact_value(ref.value)) != sx) fail("NaN %llx not kept", show(x));
        } else if (exact_value(ref.value) != exact_value(x) || std::signbit(exact_value(ref.value)) != std::signbit(exact_value(x))) {
            fail("widening %llx not exact", show(x));
        }
    } else if constexpr (FloatElement<S> && IntegerElement<T>) {
        // A NaN can only be mapped, never converted.
        if (is_nan_of(x) && (ref.ok || ref.error.kind != CastError::Kind::NotCastable)) fail("NaN %llx converted", show(x));
    }
}

// ---------------------------------------------------------------- kernels

enum class Kernel { F32U8Clamp, F64U8Clamp, F64I32Clamp, F64I32Check, F64F32 };

const char* kernel_name(Kernel k) {
    switch (k) {
        case Kernel::F32U8Clamp: return "f32_to_u8_clamp";
        case Kernel::F64U8Clamp: return "f64_to_u8_clamp";
        case Kernel::F64I32Clamp: return "f64_to_i32_clamp";
        case Kernel::F64I32Check: return "f64_to_i32_check";
        case Kernel::F64F32: return "f64_to_f32_nearest";
    }
    return "?";
}

const char* tier_name(KernelTier t) {
    switch (t) {
        case KernelTier::Avx2: return "avx2";
        case KernelTier::Avx: return "avx";
        case KernelTier::Generic: return "generic";
    }
    return "?";
}

bool tier_runs_here(KernelTier t) {
    switch (t) {
        case KernelTier::Avx2: return cpu_features().avx2_tier;
        case KernelTier::Avx: return cpu_features().avx;
        case KernelTier::Generic: return true;
    }
    return false;
}

// Elements stored together: a failure anywhere in a block leaves the block
// unwritten. NearestAway runs element by element on every tier.
std::size_t block_size(Kernel k, KernelTier t, RoundingMode mode) {
    if (t == KernelTier::Generic || mode == RoundingMode::NearestAway) return 1;
    switch (k) {
        case Kernel::F32U8Clamp: return t == KernelTier::Avx2 ? 16 : 8;
        case Kernel::F64U8Clamp: return t == KernelTier::Avx2 ? 16 : 4;
        default: return 4;
    }
}

// What a kernel tier leaves, derived from per-element references of the
// family's rule for the same mode: `refs` under the kernel's own range
// rule, and for float64 to float32 `unchecked` with overflow stored.
template <class S, class T>
Expected<T> expect_kernel(Kernel k, std::size_t block, std::span<const S> src, const std::vector<ElementRef<T>>& refs,
                          const std::vector<ElementRef<T>>* unchecked) {
    const std::size_t n = src.size();
    Expected<T> exp;
    exp.values.resize(n);
    std::size_t fail_at = n;
    for (std::size_t j = 0; j < n; ++j) {
        if (!refs[j].ok) {
            fail_at = j;
            break;
        }
        exp.values[j] = refs[j].value;
    }
    if (k == Kernel::F64F32) {
        for (std::size_t j = 0; j < n; ++j) exp.values[j] = (*unchecked)[j].value;
        exp.stored = n;
        if (fail_at < n) exp.result = refs[fail_at].error;
        return exp;
    }
    if (fail_at == n) {
        exp.stored = n;
        return exp;
    }
    const std::size_t vector_end = n - n % block;
    const std::size_t start = fail_at < vector_end ? fail_at - fail_at % block : fail_at;
    const std::size_t end = fail_at < vector_end ? start + block : fail_at + 1;
    exp.stored = start;
    exp.result = refs[fail_at].error;
    if constexpr (std::is_same_v<S, double> && std::is_same_v<T, std::int32_t>) {
        if (k == Kernel::F64I32Check) {
            // The block's NaN test comes before its range test, and a range
            // error reports the value before rounding.
            std::optional<CastError> e;
            for (std::size_t j = start; j < end && !e; ++j) {
                if (src[j] != src[j]) e = CastError::not_castable(src[j]);
            }
            if (!e) e = CastError::out_of_range(src[fail_at], -2147483648.0, 2147483647.0);
            exp.result = *e;
        }
    }
    return exp;
}

template <class S, class T>
using TierFn = CastResult (*)(std::span<const S>, std::span<T>, RoundingMode);

template <class S, class T>
TierFn<S, T> tier_fn(Kernel k, KernelTier t) {
    if constexpr (std::is_same_v<S, float> && std::is_same_v<T, std::uint8_t>) {
        return t == KernelTier::Avx2 ? simd::avx2::f32_to_u8_clamp
               : t == KernelTier::Avx ? simd::avx::f32_to_u8_clamp
                                      : simd::generic::f32_to_u8_clamp;
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<T, std::uint8_t>) {
        return t == KernelTier::Avx2 ? simd::avx2::f64_to_u8_clamp
               : t == KernelTier::Avx ? simd::avx::f64_to_u8_clamp
                                      : simd::generic::f64_to_u8_clamp;
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<T, std::int32_t>) {
        if (k == Kernel::F64I32Clamp) {
            return t == KernelTier::Avx2 ? simd::avx2::f64_to_i32_clamp
                   : t == KernelTier::Avx ? simd::avx::f64_to_i32_clamp
                                          : simd::generic::f64_to_i32_clamp;
        }
        return t == KernelTier::Avx2 ? simd::avx2::f64_to_i32_check
               : t == KernelTier::Avx ? simd::avx::f64_to_i32_check
                                      : nullptr;
    } else {
        (void)k;
        (void)t;
        return nullptr;
    }
}

template <class S, class T>
CastResult run_f64_to_f32_tier(KernelTier t, std::span<const S> src, std::span<T> dst, bool check) {
    if constexpr (std::is_same_v<S, double> && std::is_same_v<T, float>) {
        if (t == KernelTier::Avx2) return simd::avx2::f64_to_f32_nearest(src, dst, check);
        if (t == KernelTier::Avx) return simd::avx::f64_to_f32_nearest(src, dst, check);
    }
    (void)t, (void)src, (void)dst, (void)check;
    fail("no float64-to-float32 tier");
}

template <class S, class T>
KernelResult run_entry(Kernel k, std::span<const S> src, std::span<T> dst, RoundingMode mode) {
    if constexpr (std::is_same_v<S, float> && std::is_same_v<T, std::uint8_t>) {
        return try_f32_to_u8_clamp(src, dst, mode);
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<T, std::uint8_t>) {
        return try_f64_to_u8_clamp(src, dst, mode);
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<T, std::int32_t>) {
        return k == Kernel::F64I32Clamp ? try_f64_to_i32_clamp(src, dst, mode) : try_f64_to_i32_check(src, dst, mode);
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<T, float>) {
        (void)k, (void)mode;
        return try_f64_to_f32_nearest(src, dst, true);
    } else {
        (void)k, (void)src, (void)dst, (void)mode;
        return false;
    }
}

// Every tier this processor runs, on the same run, against the model; and
// the entry point, which declines NearestAway without touching anything.
template <class S, class T>
void check_kernel(Kernel k, std::span<const S> src, RoundingMode mode, const std::vector<ElementRef<T>>& refs,
                  const std::vector<ElementRef<T>>* unchecked, bool check) {
    const std::size_t n = src.size();
    char what[96];
    for (KernelTier t : {KernelTier::Avx2, KernelTier::Avx, KernelTier::Generic}) {
        if (!tier_runs_here(t)) continue;
        std::snprintf(what, sizeof what, "%s tier %s, mode %d, check %d, n %zu", kernel_name(k), tier_name(t),
                      static_cast<int>(mode), check, n);
        // Two spare elements past the run must stay untouched.
        Observed<T> obs;
        if (k == Kernel::F64F32) {
            if (t == KernelTier::Generic) continue;
            obs = observe<T>(n + 2, [&](std::span<T> out) { return run_f64_to_f32_tier<S, T>(t, src, out, check); });
        } else {
            TierFn<S, T> fn = tier_fn<S, T>(k, t);
            if (fn == nullptr) continue;
            obs = observe<T>(n + 2, [&](std::span<T> out) { return fn(src, out, mode); });
        }
        compare(obs, expect_kernel<S, T>(k, block_size(k, t, mode), src, refs, unchecked), what);
    }
    if (k != Kernel::F64F32 && mode == RoundingMode::NearestAway) {
        std::optional<KernelResult> outcome;
        Observed<T> obs = observe<T>(n, [&](std::span<T> out) {
            outcome = run_entry<S, T>(k, src, out, mode);
            return CastResult(Ok{});
        });
        if (!outcome->ok() || outcome->value()) fail("%s: NearestAway not declined", kernel_name(k));
        for (std::size_t j = 0; j < n; ++j) {
            if (obs.written[j]) fail("%s: declined run wrote element %zu", kernel_name(k), j);
        }
    }
}

// The kernel the family offers its run to, if any, for this configuration
// with an empty map.
template <class S, class T>
std::optional<Kernel> family_kernel(RoundingMode mode, OptionalOutOfRange range) {
    if (mode == RoundingMode::NearestAway) return std::nullopt;
    if constexpr (std::is_same_v<S, float> && std::is_same_v<T, std::uint8_t>) {
        if (range == OutOfRangeMode::Clamp) return Kernel::F32U8Clamp;
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<T, std::uint8_t>) {
        if (range == OutOfRangeMode::Clamp) return Kernel::F64U8Clamp;
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<T, std::int32_t>) {
        if (range == OutOfRangeMode::Clamp) return Kernel::F64I32Clamp;
        if (!range) return Kernel::F64I32Check;
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<T, float>) {
        if (mode == RoundingMode::NearestEven) return Kernel::F64F32;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- one input

template <class S, class T>
void fuzz_pair(Reader& r, RoundingMode mode, OptionalOutOfRange range, std::size_t map_count, int dst_extra) {
    CastConfig<S, T> config{mode, range, {}};
    for (std::size_t k = 0; k < map_count; ++k) {
        const S from = read_value<S>(r);
        const T to = read_value<T>(r);
        config.scalar_map.add(from, to);
    }
    std::vector<S> values;
    while (!r.empty() && values.size() < kMaxElements) values.push_back(read_value<S>(r));

    // Buffers of exactly their length, so that the address sanitizer sees
    // any access beyond them.
    const std::size_t src_len = values.size();
    const std::size_t dst_len = dst_extra < 0 && static_cast<std::size_t>(-dst_extra) > src_len
                                    ? 0
                                    : static_cast<std::size_t>(static_cast<long>(src_len) + dst_extra);
    std::unique_ptr<S[]> src_buf(new S[src_len]);
    if (src_len != 0) std::memcpy(static_cast<void*>(src_buf.get()), values.data(), src_len * sizeof(S));
    const std::span<const S> src(src_buf.get(), src_len);
    const std::size_t n = std::min(src_len, dst_len);
    const std::span<const S> run = src.first(n);

    const std::vector<ElementRef<T>> refs = element_refs<S, T>(run, mode, range);
    for (std::size_t j = 0; j < n; ++j) check_ref<S, T>(run[j], refs[j], range);

    // The family as called, map included.
    Expected<T> exp;
    const std::optional<Kernel> kernel =
        config.scalar_map.empty() ? family_kernel<S, T>(mode, range) : std::optional<Kernel>{};
    const KernelTier active = select_kernel_tier(cpu_features());
    const bool kernel_runs = kernel && !(active == KernelTier::Generic &&
                                         (*kernel == Kernel::F64I32Check || *kernel == Kernel::F64F32));
    std::vector<ElementRef<T>> unchecked;
    if (kernel_runs && *kernel == Kernel::F64F32) unchecked = element_refs<S, T>(run, mode, OutOfRangeMode::Clamp);
    if (kernel_runs) {
        exp = expect_kernel<S, T>(*kernel, block_size(*kernel, active, mode), run, refs, &unchecked);
    } else {
        exp = expect_elementwise<S, T>(run, refs, config.scalar_map);
    }
    exp.values.resize(dst_len);
    Observed<T> obs = observe<T>(dst_len, [&](std::span<T> out) { return convert_slice<S, T>(src, out, config); });
    compare(obs, exp, kernel_runs ? "family (kernel)" : "family");

    // Converted onto itself, where the two types have one size: each element
    // (or block) is read before it is written, and what lies at and after a
    // failure keeps the source's bytes.
    if constexpr (sizeof(S) == sizeof(T)) {
        const Expected<T> want = expect_elementwise<S, T>(run, refs, config.scalar_map);
        std::unique_ptr<S[]> buf(new S[n]);
        if (n != 0) std::memcpy(static_cast<void*>(buf.get()), run.data(), n * sizeof(S));
        const CastResult result = convert_slice<S, T>(std::span<const S>(buf.get(), n),
                                                      std::span<T>(reinterpret_cast<T*>(buf.get()), n), config);
        Observed<T> in_place;
        in_place.result = result;
        in_place.written.assign(n, true);
        in_place.values.resize(n);
        if (n != 0) std::memcpy(static_cast<void*>(in_place.values.data()), buf.get(), n * sizeof(T));
        Expected<T> exp_in_place = want;
        for (std::size_t j = want.stored; j < n; ++j) std::memcpy(&exp_in_place.values[j], &run[j], sizeof(T));
        exp_in_place.stored = n;
        exp_in_place.result = want.result;
        compare(in_place, exp_in_place, "in place");
    }

    // The element loop over the whole run, through a map that covers none of it.
    if (config.scalar_map.empty()) {
        if (std::optional<S> spare = uncovered_value(run)) {
            CastConfig<S, T> forced{mode, range, {}};
            forced.scalar_map.add(*spare, T{});
            Expected<T> loop = expect_elementwise<S, T>(run, refs, forced.scalar_map);
            Observed<T> obs_loop =
                observe<T>(n, [&](std::span<T> out) { return convert_slice<S, T>(run, out, forced); });
            compare(obs_loop, loop, "element loop");
        }
    }

    // Every kernel of the pair on every tier, whatever the family chose.
    if constexpr ((std::is_same_v<S, float> || std::is_same_v<S, double>) &&
                  (std::is_same_v<T, std::uint8_t> || std::is_same_v<T, std::int32_t>)) {
        if constexpr (!(std::is_same_v<S, float> && std::is_same_v<T, std::int32_t>)) {
            const std::vector<ElementRef<T>> clamp_refs =
                range == OutOfRangeMode::Clamp ? refs : element_refs<S, T>(run, mode, OutOfRangeMode::Clamp);
            const Kernel clamp_kernel = std::is_same_v<T, std::int32_t>
                                            ? Kernel::F64I32Clamp
                                            : (std::is_same_v<S, float> ? Kernel::F32U8Clamp : Kernel::F64U8Clamp);
            check_kernel<S, T>(clamp_kernel, run, mode, clamp_refs, nullptr, false);
            if constexpr (std::is_same_v<T, std::int32_t>) {
                const std::vector<ElementRef<T>> check_refs =
                    !range ? refs : element_refs<S, T>(run, mode, std::nullopt);
                check_kernel<S, T>(Kernel::F64I32Check, run, mode, check_refs, nullptr, false);
            }
        }
    } else if constexpr (std::is_same_v<S, std::int32_t> && std::is_same_v<T, std::uint8_t>) {
        // The saturating pack, AVX2 tier only; it never fails and stores the whole run.
        if (cpu_features().avx2_tier) {
            const std::vector<ElementRef<T>> clamp_refs =
                range == OutOfRangeMode::Clamp ? refs : element_refs<S, T>(run, mode, OutOfRangeMode::Clamp);
            Expected<T> want = expect_elementwise<S, T>(run, clamp_refs, ScalarMap<S, T>{});
            want.values.resize(n + 2);
            Observed<T> packed = observe<T>(n + 2, [&](std::span<T> out) {
                simd::avx2::i32_to_u8_clamp(run, out);
                return CastResult(Ok{});
            });
            compare(packed, want, "i32_to_u8_clamp tier avx2");
        }
    } else if constexpr (std::is_same_v<S, double> && std::is_same_v<T, float>) {
        const std::vector<ElementRef<T>> checked = element_refs<S, T>(run, RoundingMode::NearestEven, std::nullopt);
        const std::vector<ElementRef<T>> stored =
            element_refs<S, T>(run, RoundingMode::NearestEven, OutOfRangeMode::Clamp);
        check_kernel<S, T>(Kernel::F64F32, run, RoundingMode::NearestEven, checked, &stored, true);
        check_kernel<S, T>(Kernel::F64F32, run, RoundingMode::NearestEven, stored, &stored, false);
    }
}

template <class F>
void with_type(unsigned index, F&& f) {
    switch (index) {
        case 0: f(std::type_identity<std::int8_t>{}); break;
        case 1: f(std::type_identity<std::int16_t>{}); break;
        case 2: f(std::type_identity<std::int32_t>{}); break;
        case 3: f(std::type_identity<std::int64_t>{}); break;
        case 4: f(std::type_identity<std::uint8_t>{}); break;
        case 5: f(std::type_identity<std::uint16_t>{}); break;
        case 6: f(std::type_identity<std::uint32_t>{}); break;
        case 7: f(std::type_identity<std::uint64_t>{}); break;
        case 8: f(std::type_identity<Float16>{}); break;
        case 9: f(std::type_identity<float>{}); break;
        default: f(std::type_identity<double>{}); break;
    }
}

const char* const kTypeNames[] = {"int8",   "int16",   "int32",   "int64",   "uint8",  "uint16",
                                  "uint32", "uint64",  "float16", "float32", "float64"};

}  // namespace

// Layout: [pair] [rounding mode + out-of-range mode] [map size + destination
// length offset] [map entries] [source values...]; each value is a selector
// byte and its payload (raw bits, small numbers, nudged edges, specials).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader r(data, size);
    const unsigned pair = r.byte() % 121;
    const std::uint8_t modes = r.byte();
    const std::uint8_t shape = r.byte();
    const auto mode = static_cast<RoundingMode>(modes % 5);
    const unsigned range_index = (modes / 5) % 3;
    const OptionalOutOfRange range = range_index == 0   ? OptionalOutOfRange{}
                                     : range_index == 1 ? OptionalOutOfRange{OutOfRangeMode::Clamp}
                                                        : OptionalOutOfRange{OutOfRangeMode::Wrap};
    // A map in about 3 inputs of 16, so that the straight loops and the
    // kernels get most runs.
    const std::size_t map_count = (shape & 0x0C) == 0x0C ? (shape & 0x03) % (kMaxMapEntries + 1) : 0;
    const int dst_extra = static_cast<int>((shape >> 4) % 6) - 2;  // -2 .. 3

    static char context[128];
    std::snprintf(context, sizeof context, "%s -> %s, mode %u, range %u, map %zu, dst %+d",
                  kTypeNames[pair / 11], kTypeNames[pair % 11], modes % 5, range_index, map_count, dst_extra);
    g_context = context;

    with_type(pair / 11, [&](auto s) {
        with_type(pair % 11, [&](auto t) {
            using S = typename decltype(s)::type;
            using T = typename decltype(t)::type;
            fuzz_pair<S, T>(r, mode, range, map_count, dst_extra);
        });
    });
    return 0;
}
