// Methods of Regex. None calls an operation of the element: the tests of one text or one input (parse_string,
// matches, parse_batch, parse_batch_count) apply the anchored rule at 0 (RegexElement::match_at, the rule
// try_match_at shares); the searches over a text (search_string, search_string_count, transform_string) iterate
// the unanchored expression (for_each_regex_match), empty matches listed, counted and replaced.
#include "fastpaths/regex.h"

#include <string>

#include "absl/container/inlined_vector.h"
#include "elements/regex.h"
#include "engine/batch.h"
#include "engine/bodies.h"
#include "engine/token_intern.h"
#include "engine/transform_result.h"
#include "fastpaths/word_batch.h"
#include "py/errors.h"

namespace quillex::engine {

namespace {

using fastpaths::RegexMatch;

const RegexElement& as_regex(const Element& e) noexcept { return static_cast<const RegexElement&>(e); }

// The match text at the start of the text, also when it covers the whole text: a new str, never `s` itself.
PyObject* regex_parse_string(PyObject*, const Element& e, PyObject*, std::string_view text) {
  const MatchResult m = as_regex(e).match_at(text, 0);
  if (!m.matched) return py::raise_value_error("Expected regex match");
  py::PyRef token = py::PyRef::steal(py::new_str_or_throw(text.substr(0, m.end)));
  PyObject* list = PyList_New(1);
  if (list == nullptr) return py::pending_error();
  PyList_SET_ITEM(list, 0, token.release());
  return list;
}

PyObject* regex_matches(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return PyBool_FromLong(as_regex(e).match_at(text, 0).matched);
}

PyObject* regex_search_string_count(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return py::new_count_or_die(fastpaths::count_regex_matches(as_regex(e).unanchored(), text));
}

// One iteration records the spans (offsets, no texts), so the list is made at its final length and filled in
// place; a counting pass followed by a second iteration would pay every RE2 search twice (about 1.8x slower on
// texts with many short matches). Equal match texts share one str.
PyObject* regex_search_string(PyObject*, const Element& e, PyObject*, std::string_view text) {
  absl::InlinedVector<RegexMatch, 16> spans;
  fastpaths::for_each_regex_match(as_regex(e).unanchored(), text,
                                  [&spans](Pos start, Pos end) { spans.push_back({start, end}); });
  if (spans.empty()) return py::new_empty_list_or_die();
  py::PyRef list = py::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(spans.size())));
  if (!list) return py::pending_error();
  TokenInternMap interned;
  for (std::size_t i = 0; i < spans.size(); ++i) {
    const RegexMatch& m = spans[i];
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i),
                    interned.get_or_create(text.substr(m.start, m.end - m.start)));
  }
  return list.release();
}

// Every match replaced, empty ones included (the replacement is then inserted and nothing removed); the
// replacement is inserted byte for byte, with no group reference or escape read in it.
PyObject* regex_transform_string(PyObject*, const Element& e, PyObject* s, std::string_view text,
                                 PyObject* replacement_obj, std::string_view replacement) {
  absl::InlinedVector<RegexMatch, 4> matches;
  fastpaths::for_each_regex_match(as_regex(e).unanchored(), text,
                                  [&matches](Pos start, Pos end) { matches.push_back({start, end}); });
  // Always a new str, also when nothing is replaced; made once at its exact size.
  std::uint64_t removed = 0;
  for (const RegexMatch& m : matches) removed += m.end - m.start;
  return transform_counted(s, text, replacement_obj, replacement, matches.size(), removed, [&](auto&& on_span) {
    for (const RegexMatch& m : matches) on_span(m.start, m.end);
    return true;
  });
}

PyObject* regex_parse_batch_count(PyObject*, const Element& e, PyObject* inputs) {
  const RegexElement& re = as_regex(e);
  return run_count_batch(inputs, [&re](std::string_view text) { return re.match_at(text, 0).matched; });
}

// The token of one input: the match text at 0. A match spanning its whole input is the input itself, when that
// is an exact str: a subclass instance would carry its type into the result.
PyObject* regex_parse_batch(PyObject*, const Element& e, PyObject* inputs) {
  const RegexElement& re = as_regex(e);
  return fastpaths::build_flat_batch(inputs, [&re](PyObject* item, std::string_view text) -> PyObject* {
    const MatchResult m = re.match_at(text, 0);
    if (!m.matched) return nullptr;
    if (m.end == text.size() && PyUnicode_CheckExact(item)) return Py_NewRef(item);
    return py::new_str_or_throw(text.substr(0, m.end));
  });
}

}  // namespace

const MethodBodies REGEX_BODIES = {regex_parse_string,      regex_matches,           regex_search_string,
                                   regex_search_string_count, regex_parse_batch,     regex_parse_batch_count,
                                   regex_transform_string};

}  // namespace quillex::engine
