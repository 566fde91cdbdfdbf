// Placeholder constructors of the terminal classes until their elements land: each refuses every call
// with TypeError "No constructor defined for {}".
#include "constructors.h"

namespace quillex {

PyObject* literal_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

PyObject* keyword_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

PyObject* caseless_literal_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

PyObject* caseless_keyword_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

PyObject* char_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

PyObject* word_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

PyObject* regex_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

PyObject* quoted_string_new(PyTypeObject* subtype, PyObject*, PyObject*) { return raise_no_constructor(subtype); }

}  // namespace quillex
