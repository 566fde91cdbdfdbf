// The vector width of the byte scans, chosen once per process.
//
// The module is built for plain x86-64, whose vectors are SSE2's 16 bytes, and a built module may be copied to
// any x86-64 machine. The scans bound by their own arithmetic rather than by memory also have a 32-byte path for
// processors with AVX2, compiled for that target alone (QUILLEX_AVX2 on the function, and on each lambda in it:
// a lambda does not take the target of the function around it). A scan takes a `Simd` argument that defaults
// to best_simd(), the answer of one processor check made when the library loads, so choosing costs one read
// where the scan starts. Both paths give the same results; the tests run them side by side.
#pragma once

namespace quillex {

// AVX2 with the bit instructions every AVX2 processor has (BMI1 and BMI2: tzcnt, blsr; POPCNT).
#define QUILLEX_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))

enum class Simd : unsigned char { SSE2, AVX2 };

// Whether this processor runs the QUILLEX_AVX2 paths, checked once at load.
extern const bool CPU_RUNS_AVX2;

[[nodiscard]] inline Simd best_simd() noexcept { return CPU_RUNS_AVX2 ? Simd::AVX2 : Simd::SSE2; }

}  // namespace quillex
