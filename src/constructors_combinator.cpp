// The constructors of the combinator classes that Python can call: the seven one-child wrappers, Exactly and
// MatchFirst. Each converts its other parameters first, then turns its grammar objects into elements
// (extract_element), builds one element over them and wraps it. The children are the very elements the
// objects hold, so a combinator built over a Forward sees every later `set` of it.
#include <cstdint>
#include <string>

#include "constructors.h"
#include "descriptors.h"
#include "elements/structure.h"
#include "extract.h"

namespace quillex {

namespace {

template <ClassId C, class ElementKind>
PyObject* new_one_child(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  py::ConstructorArguments bound(CONSTRUCTOR_DESCRIPTOR<C>);
  if (!bound.bind_tuple_dict(args, kwargs)) return nullptr;
  ElementRef inner;
  if (!extract_element(bound[0], inner)) return nullptr;
  return new_element_object<C>(subtype, make_element<ElementKind>(std::move(inner)));
}

}  // namespace

PyObject* group_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_one_child<ClassId::Group, GroupElement>(subtype, args, kwargs);
}
PyObject* suppress_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_one_child<ClassId::Suppress, SuppressElement>(subtype, args, kwargs);
}
PyObject* optional_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_one_child<ClassId::Optional, OptionalElement>(subtype, args, kwargs);
}
PyObject* zero_or_more_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_one_child<ClassId::ZeroOrMore, ZeroOrMoreElement>(subtype, args, kwargs);
}
PyObject* one_or_more_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_one_child<ClassId::OneOrMore, OneOrMoreElement>(subtype, args, kwargs);
}
PyObject* combine_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_one_child<ClassId::Combine, CombineElement>(subtype, args, kwargs);
}
PyObject* skip_to_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_one_child<ClassId::SkipTo, SkipToElement>(subtype, args, kwargs);
}

// `count` is converted before `expr` is examined. Every count is accepted, 0 and 2^64 - 1 included: the
// element's loop stops at the first iteration that fails or does not advance, so a huge count costs no more
// than the text allows.
PyObject* exactly_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  py::ConstructorArguments bound(CONSTRUCTOR_DESCRIPTOR<ClassId::Exactly>);
  std::uint64_t count = 0;
  if (!bound.bind_tuple_dict(args, kwargs) || !bound.count(1, count)) return nullptr;
  ElementRef inner;
  if (!extract_element(bound[0], inner)) return nullptr;
  return new_element_object<ClassId::Exactly>(subtype, make_element<ExactlyElement>(std::move(inner), count));
}

// The alternatives are the items' elements in list order, read once here: changing the list afterwards does not
// change the element. An item that is itself a MatchFirst is one alternative (only `|` flattens). The empty
// list is accepted: nothing matches.
PyObject* match_first_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  py::ConstructorArguments bound(CONSTRUCTOR_DESCRIPTOR<ClassId::MatchFirst>);
  PyObject* exprs = nullptr;
  if (!bound.bind_tuple_dict(args, kwargs) || !bound.list(0, exprs)) return nullptr;
  const Py_ssize_t n = PyList_GET_SIZE(exprs);
  ElementList alternatives;
  alternatives.reserve(static_cast<std::size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    const py::PyRef item = py::PyRef::borrow(PyList_GET_ITEM(exprs, i));
    ElementRef alternative;
    if (!extract_element(item.get(), alternative)) {
      PyErr_Clear();
      return py::raise_value_error("Unsupported expression type at index " + std::to_string(i));
    }
    alternatives.push_back(std::move(alternative));
  }
  return new_element_object<ClassId::MatchFirst>(subtype, make_element<MatchFirstElement>(std::move(alternatives)));
}

}  // namespace quillex
