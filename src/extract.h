// Element extraction: the one way from a Python object to the element it holds. Used wherever Python hands the
// module a grammar object to combine: a constructor's `expr`, the items of MatchFirst's `exprs`, the right
// operand of `+` and `|`, the argument of Forward.set and `<<=`. Neither function changes the object: the
// caller receives a new reference to the very element the object holds (shared, never copied), and the
// object's reference count and borrow flag are left as they were.
#pragma once

#include "classes.h"

namespace quillex {

// The element of an instance of class c, or false with the TypeError "'{}' object cannot be converted to '{}'"
// naming c set.
[[nodiscard]] bool extract_class_element(ClassId c, PyObject* obj, ElementRef& out);

// The element of an instance of any of the 26 classes, or false with ValueError "Unsupported parser element
// type" set: a str is never turned into a literal. Costs at most 26 type tests and no allocation.
[[nodiscard]] bool extract_element(PyObject* obj, ElementRef& out);

}  // namespace quillex
