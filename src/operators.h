// The grammar operators: `+` (nb_add, every class), `|` (nb_or, every class but And), and Forward's `<<=`
// (nb_inplace_lshift) and `set`. The type objects' slots call these with the class of the slot.
//
// Every slot gives a new reference, NotImplemented when the left operand is not of the slot's class, or
// nullptr with the error set. No operator keeps a reference to a Python object beyond its call.
#pragma once

#include "classes.h"

namespace quillex {

// `self + other` for the slot of class `left` (self is then usually, not always, an instance of it).
[[nodiscard]] PyObject* add_operator(ClassId left, PyObject* self, PyObject* other);
// `self | other` for the slot of class `left` (never And).
[[nodiscard]] PyObject* or_operator(ClassId left, PyObject* self, PyObject* other);
// `self <<= other` on a Forward: gives self back (a new reference).
[[nodiscard]] PyObject* forward_inplace_lshift(PyObject* self, PyObject* other);
// The body of Forward.set(expr): the method frame has bound `expr` and borrowed the receiver; `forward` is
// its ForwardElement. Gives None.
[[nodiscard]] PyObject* forward_set(PyObject* self, const Element& forward, PyObject* expr);

}  // namespace quillex
