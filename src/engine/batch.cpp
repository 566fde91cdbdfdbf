#include "engine/batch.h"

#include <string>

#include "engine/routines.h"
#include "engine/tokens.h"

namespace quillex::engine {

bool raise_batch_item_error(PyObject* item, std::size_t index) {
  if (PyUnicode_Check(item)) {
    (void)py::pending_error();  // a str without UTF-8 form: the interpreter's UnicodeEncodeError stands
    return false;
  }
  std::string name;
  py::PyRef qualname = py::PyRef::steal(PyType_GetQualName(Py_TYPE(item)));
  Py_ssize_t len = 0;
  const char* utf8 = qualname ? PyUnicode_AsUTF8AndSize(qualname.get(), &len) : nullptr;
  if (utf8 != nullptr) {
    name.assign(utf8, static_cast<std::size_t>(len));
  } else {
    PyErr_Clear();
    name = Py_TYPE(item)->tp_name;
  }
  (void)py::raise_type_error("argument 'inputs': item " + std::to_string(index) + ": '" + name +
                             "' object cannot be converted to 'PyString'");
  return false;
}

PyObject* run_parse_batch(const Element& element, PyObject* inputs) {
  // One input's token list: the tokens of the match at 0 (the rest of the input is ignored), or a new empty
  // list when it fails.
  return build_batch_results(inputs, [&element](std::string_view text) -> PyObject* {
    ParseOutcome outcome = element.parse(text, 0);
    if (!outcome.ok) return PyList_New(0);
    return new_token_list(outcome.tokens);
  });
}

PyObject* run_parse_batch_count(const Element& element, PyObject* inputs) {
  return run_count_batch(inputs, [&element](std::string_view text) { return element.try_match_at(text, 0).matched; });
}

PyObject* run_parse_batch_count_inner(const Element& inner, PyObject* inputs) {
  return run_parse_batch_count(inner, inputs);
}

}  // namespace quillex::engine
