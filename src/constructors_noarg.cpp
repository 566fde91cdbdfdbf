// The constructors of the classes made without arguments: any argument is refused by the binder, then one new
// element (a new one per call, even for the kinds without fields) is wrapped in a new object.
#include "constructors.h"
#include "descriptors.h"
#include "elements/forward.h"
#include "elements/positional.h"
#include "elements/structure.h"

namespace quillex {

namespace {

template <ClassId C, class ElementKind>
PyObject* new_without_arguments(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  py::ConstructorArguments bound(CONSTRUCTOR_DESCRIPTOR<C>);
  if (!bound.bind_tuple_dict(args, kwargs)) return nullptr;
  return new_element_object<C>(subtype, make_element<ElementKind>());
}

}  // namespace

PyObject* empty_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_without_arguments<ClassId::Empty, EmptyElement>(subtype, args, kwargs);
}
PyObject* no_match_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_without_arguments<ClassId::NoMatch, NoMatchElement>(subtype, args, kwargs);
}
PyObject* line_end_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_without_arguments<ClassId::LineEnd, LineEndElement>(subtype, args, kwargs);
}
PyObject* line_start_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_without_arguments<ClassId::LineStart, LineStartElement>(subtype, args, kwargs);
}
PyObject* string_end_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_without_arguments<ClassId::StringEnd, StringEndElement>(subtype, args, kwargs);
}
PyObject* string_start_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_without_arguments<ClassId::StringStart, StringStartElement>(subtype, args, kwargs);
}
// Each element carries its own "Expected rest of line" string.
PyObject* rest_of_line_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_without_arguments<ClassId::RestOfLine, RestOfLineElement>(subtype, args, kwargs);
}
// Unset until Forward.set or <<=; every match fails with "Forward not initialized" until then.
PyObject* forward_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_without_arguments<ClassId::Forward, ForwardElement>(subtype, args, kwargs);
}

}  // namespace quillex
