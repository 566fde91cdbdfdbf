// The module functions: seven fixed ASCII character sets and one_of.
#pragma once

#include <cstddef>

#include "py/pyref.h"

namespace quillex {

// The function records in registration order (alphas, alphanums, nums, printables, hexnums, alphas_upper,
// alphas_lower, one_of), with their calling conventions and documentation texts. Static: the function objects
// made from them at import refer to them for the life of the process.
inline constexpr std::size_t MODULE_FUNCTION_COUNT = 8;
extern PyMethodDef MODULE_FUNCTIONS[MODULE_FUNCTION_COUNT];

}  // namespace quillex
