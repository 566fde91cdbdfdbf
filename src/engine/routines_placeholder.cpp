// Temporary plain versions of the common routines, standing in until the method engine lands (this file is
// then deleted). No shortcuts, no caches: one straightforward loop each.
#include <string>

#include "engine/routines.h"
#include "py/binder.h"
#include "py/errors.h"

namespace quillex::engine {

namespace {

// Positions 0..length-1; after a match the scan resumes at max(pos + 1, end).
template <class OnMatch>
void scan(const Element& element, std::string_view text, OnMatch on_match) {
  Pos pos = 0;
  while (pos < text.size()) {
    MatchResult r = element.try_match_at(text, pos);
    if (r.matched) {
      on_match(pos, r.end);
      pos = r.end > pos + 1 ? r.end : pos + 1;
    } else {
      ++pos;
    }
  }
}

PyObject* token_list(const TokenList& tokens) {
  PyObject* list = PyList_New(static_cast<Py_ssize_t>(tokens.size()));
  if (list == nullptr) return py::pending_error();
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), py::new_str_or_die(tokens[i]->view()));
  }
  return list;
}

template <class Verdict>
PyObject* count_items(PyObject* inputs, Verdict verdict) {
  unsigned long long count = 0;
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(inputs); ++i) {
    std::string_view text;
    if (!py::extract_batch_item(PyList_GET_ITEM(inputs, i), i, text)) return nullptr;
    if (verdict(text)) ++count;
  }
  return py::new_count_or_die(count);
}

}  // namespace

PyObject* run_matches(const Element& element, std::string_view text) {
  return PyBool_FromLong(element.try_match_at(text, 0).matched);
}

PyObject* run_search_string_count(const Element& element, std::string_view text) {
  unsigned long long count = 0;
  scan(element, text, [&](Pos, Pos) { ++count; });
  return py::new_count_or_die(count);
}

PyObject* run_parse_string(const Element& element, std::string_view text) {
  StartOutcome outcome = element.parse_at_start(text);
  if (!outcome.ok) {
    std::string m = "ParseException at position " + std::to_string(outcome.error.position) + ": ";
    m.append(outcome.error.message->view());
    return py::raise_value_error(m);
  }
  return token_list(outcome.tokens);
}

PyObject* run_search_string(const Element& element, std::string_view text) {
  py::PyRef list = py::PyRef::steal(py::new_empty_list_or_die());
  scan(element, text, [&](Pos start, Pos end) {
    if (end == start) return;
    py::PyRef item = py::PyRef::steal(py::new_str_or_die(text.substr(start, end - start)));
    if (PyList_Append(list.get(), item.get()) < 0) fatal("could not grow a result list");
  });
  return list.release();
}

PyObject* run_transform_string(const Element& element, PyObject* s, std::string_view text, PyObject*,
                               std::string_view replacement) {
  std::string out;
  Pos copied = 0;
  bool replaced = false;
  scan(element, text, [&](Pos start, Pos end) {
    if (end == start) return;
    out.append(text.substr(copied, start - copied));
    out.append(replacement);
    copied = end;
    replaced = true;
  });
  if (!replaced) return Py_NewRef(s);
  out.append(text.substr(copied));
  return py::new_str_or_die(out);
}

PyObject* run_parse_batch(const Element& element, PyObject* inputs) {
  Py_ssize_t n = PyList_GET_SIZE(inputs);
  py::PyRef result = py::PyRef::steal(PyList_New(n));
  if (!result) return py::pending_error();
  for (Py_ssize_t i = 0; i < n; ++i) {
    std::string_view text;
    if (!py::extract_batch_item(PyList_GET_ITEM(inputs, i), i, text)) return nullptr;
    ParseOutcome outcome = element.parse(text, 0);
    PyObject* tokens = outcome.ok ? token_list(outcome.tokens) : py::new_empty_list_or_die();
    if (tokens == nullptr) return nullptr;
    PyList_SET_ITEM(result.get(), i, tokens);
  }
  return result.release();
}

PyObject* run_parse_batch_count(const Element& element, PyObject* inputs) {
  return count_items(inputs, [&](std::string_view text) { return element.try_match_at(text, 0).matched; });
}

PyObject* run_parse_batch_count_inner(const Element& inner, PyObject* inputs) {
  return count_items(inputs, [&](std::string_view text) { return inner.try_match_at(text, 0).matched; });
}

}  // namespace quillex::engine
