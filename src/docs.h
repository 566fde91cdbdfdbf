// Documentation texts of the classes, methods and module functions. Each is a static NUL-terminated text in the
// interpreter's internal form: name, text signature, "\n--\n\n", description. The interpreter derives
// `__text_signature__` from the part before the separator and `__doc__` from the part after it (an empty
// description gives a method or function the `__doc__` None).
#pragma once

#include "classes.h"

namespace quillex {

inline constexpr const char* MODULE_DOC = "quillex module";

// The class text: constructor signature and an empty description; nullptr for `And`, which has no constructor
// and so no documentation slot at all.
[[nodiscard]] const char* class_doc(ClassId c) noexcept;

// The text of method m of class c (`Set` only for Forward).
[[nodiscard]] const char* method_doc(ClassId c, Method m) noexcept;

// The module functions' texts.
inline constexpr const char* NUMS_DOC = "nums()\n--\n\n";
inline constexpr const char* ALPHAS_DOC = "alphas()\n--\n\n";
inline constexpr const char* ALPHANUMS_DOC = "alphanums()\n--\n\n";
inline constexpr const char* HEXNUMS_DOC = "hexnums()\n--\n\n";
inline constexpr const char* PRINTABLES_DOC = "printables()\n--\n\n";
inline constexpr const char* ALPHAS_UPPER_DOC = "alphas_upper()\n--\n\n";
inline constexpr const char* ALPHAS_LOWER_DOC = "alphas_lower()\n--\n\n";
inline constexpr const char* ONE_OF_DOC =
    "one_of(strs)\n--\n\n"
    "Create a MatchFirst from a space-separated string of literal alternatives.\n"
    "Equivalent to quillet.one_of(\"+ - * /\").";

}  // namespace quillex
