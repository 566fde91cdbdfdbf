#include "elements/simd.h"

namespace quillex {

// This initialiser runs among the library's constructors, possibly before the compiler runtime's own has filled
// in its processor data, so __builtin_cpu_init fills it first. The AVX2 answer includes the operating system's
// support for the 32-byte registers.
const bool CPU_RUNS_AVX2 = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
         __builtin_cpu_supports("popcnt");
}();

}  // namespace quillex
