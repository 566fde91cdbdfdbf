// Placeholder constructors of the combinator classes until their elements land: each refuses every call
// with TypeError "No constructor defined for {}".
#include "constructors.h"

namespace quillex {

PyObject* match_first_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

PyObject* zero_or_more_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

PyObject* one_or_more_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

PyObject* optional_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

PyObject* group_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

PyObject* suppress_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

PyObject* combine_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

PyObject* exactly_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

PyObject* skip_to_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

}  // namespace quillex
