// Placeholder operators until grammar building lands: `+`, `|` and `<<=` are not available (NotImplemented,
// so the interpreter raises its own TypeError) and `set` raises NotImplementedError.
#include "operators.h"

namespace quillex {

PyObject* add_operator(ClassId, PyObject*, PyObject*) { Py_RETURN_NOTIMPLEMENTED; }

PyObject* or_operator(ClassId, PyObject*, PyObject*) { Py_RETURN_NOTIMPLEMENTED; }

PyObject* forward_inplace_lshift(PyObject*, PyObject*) { Py_RETURN_NOTIMPLEMENTED; }

PyObject* forward_set(PyObject*, const Element&, PyObject*) {
  return py::raise_error(PyExc_NotImplementedError, "Forward.set is not available yet");
}

}  // namespace quillex
