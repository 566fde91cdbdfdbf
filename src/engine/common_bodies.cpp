// The "common" entries of the class-method tables: the common routines behind the body signatures.
#include "engine/bodies.h"
#include "engine/routines.h"

namespace quillex::engine {

PyObject* common_parse_string(PyObject*, const Element& element, PyObject*, std::string_view text) {
  return run_parse_string(element, text);
}
PyObject* common_matches(PyObject*, const Element& element, PyObject*, std::string_view text) {
  return run_matches(element, text);
}
PyObject* common_search_string(PyObject*, const Element& element, PyObject*, std::string_view text) {
  return run_search_string(element, text);
}
PyObject* common_search_string_count(PyObject*, const Element& element, PyObject*, std::string_view text) {
  return run_search_string_count(element, text);
}
PyObject* common_parse_batch(PyObject*, const Element& element, PyObject* inputs) {
  return run_parse_batch(element, inputs);
}
PyObject* common_parse_batch_count(PyObject*, const Element& element, PyObject* inputs) {
  return run_parse_batch_count(element, inputs);
}
PyObject* common_transform_string(PyObject*, const Element& element, PyObject* s, std::string_view text,
                                  PyObject* replacement, std::string_view replacement_text) {
  return run_transform_string(element, s, text, replacement, replacement_text);
}

}  // namespace quillex::engine
