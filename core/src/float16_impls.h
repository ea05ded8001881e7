#pragma once

#include <cstddef>

#include "float16.h"
#include "modes.h"

namespace quellon {

// Conversions between binary16 and the wider formats. Each runs on F16C
// when the processor has it and on a bit-manipulation routine otherwise;
// both routes give identical bits for every input.
float float16_to_float32(Float16 h);
Float16 float32_to_float16(float f);  // round to nearest, ties to even
inline double float16_to_float64(Float16 h) { return static_cast<double>(float16_to_float32(h)); }

// Whole runs, for the conversion loops (n elements, buffers must not overlap
// partially).
void float16_to_float32_run(const Float16* src, float* dst, std::size_t n);
void float32_to_float16_run(const float* src, Float16* dst, std::size_t n);

// binary16 arithmetic: operands widened to binary32, one binary32 operation,
// result rounded back to binary16.
Float16 float16_add(Float16 a, Float16 b);
Float16 float16_sub(Float16 a, Float16 b);
Float16 float16_abs(Float16 a);
Float16 float16_round_with_mode(Float16 x, RoundingMode mode);
Float16 float16_rem_euclid(Float16 a, Float16 m);

// The two routes, exposed so the tests can compare them on any machine.
namespace float16_route {
float to_float32_soft(Float16 h);
Float16 from_float32_soft(float f);
bool f16c_available();
float to_float32_f16c(Float16 h);     // only where f16c_available()
Float16 from_float32_f16c(float f);  // only where f16c_available()
void to_float32_run_f16c(const Float16* src, float* dst, std::size_t n);    // only where f16c_available()
void from_float32_run_f16c(const float* src, Float16* dst, std::size_t n);  // only where f16c_available()
}  // namespace float16_route

}  // namespace quellon
