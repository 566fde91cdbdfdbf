// The grammar operators. `+` and `|` always build a new element over a new list of child handles copied out of
// their operands (one atomic increment each); operands and the grammars that hold them never change. Only an
// And operand of `+` and a MatchFirst operand of `|` are flattened into the new list, never through another
// kind: (a + b) + c and a + (b + c) are both And [a, b, c], while Group(a + b) + c is And [Group, c].
// A Forward operand enters as the ForwardElement itself, so a later `set` is seen by every grammar holding it.
#include "operators.h"

#include <string_view>

#include "elements/forward.h"
#include "elements/structure.h"
#include "extract.h"

namespace quillex {

namespace {

// `+` builds sequences, `|` alternatives; the rest of the work is the same.
struct Combination {
  ClassId flattened;         // the class whose operands contribute their children
  std::string_view refusal;  // the ValueError for a right operand that is no grammar object
};
constexpr Combination SEQUENCE = {ClassId::And, "Unsupported operand type for +"};
constexpr Combination CHOICE = {ClassId::MatchFirst, "Unsupported operand type for |"};

const ElementList& children_of(const Element& e) {
  return e.kind() == Kind::And ? static_cast<const AndElement&>(e).children()
                               : static_cast<const MatchFirstElement&>(e).alternatives();
}

// Appends an operand's element, or its children when it is of the flattened class.
void append_operand(const Combination& how, const ElementRef& element, ElementList& out) {
  if (element->kind() == class_element_kind(how.flattened)) {
    const ElementList& children = children_of(*element);
    out.insert(out.end(), children.begin(), children.end());
  } else {
    out.push_back(element);
  }
}

// The shared slot form: the left operand must be of the slot's class (else NotImplemented, and the interpreter
// goes on with its own rules; there is no reflected form), the right one any grammar object.
PyObject* combine(const Combination& how, ClassId left, PyObject* self, PyObject* other) {
  ClassRef lhs;
  if (!borrow_class_ref(left, self, lhs)) {
    PyErr_Clear();
    Py_RETURN_NOTIMPLEMENTED;
  }
  ElementRef right;
  if (!extract_element(other, right)) {
    PyErr_Clear();
    return py::raise_value_error(how.refusal);
  }
  ElementList children;
  append_operand(how, lhs.element_ref(), children);
  append_operand(how, right, children);
  if (how.flattened == ClassId::And) return new_and_object(make_element<AndElement>(std::move(children)));
  return new_match_first_object(make_element<MatchFirstElement>(std::move(children)));
}

}  // namespace

PyObject* add_operator(ClassId left, PyObject* self, PyObject* other) { return combine(SEQUENCE, left, self, other); }

PyObject* or_operator(ClassId left, PyObject* self, PyObject* other) { return combine(CHOICE, left, self, other); }

// Binding a Forward replaces its inner element under its write lock (the previous one is released); a refused
// operand leaves it as it was.
PyObject* forward_inplace_lshift(PyObject* self, PyObject* other) {
  ClassRef forward;
  if (!borrow_class_ref<ClassId::Forward>(self, forward)) {
    PyErr_Clear();
    Py_RETURN_NOTIMPLEMENTED;
  }
  ElementRef inner;
  if (!extract_element(other, inner)) return nullptr;
  forward_set_inner(static_cast<const ForwardElement&>(forward.element()), std::move(inner));
  return Py_NewRef(self);
}

PyObject* forward_set(PyObject*, const Element& forward, PyObject* expr) {
  ElementRef inner;
  if (!extract_element(expr, inner)) return nullptr;
  forward_set_inner(static_cast<const ForwardElement&>(forward), std::move(inner));
  Py_RETURN_NONE;
}

}  // namespace quillex
