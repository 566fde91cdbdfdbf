// The class-method tables of the combinator and wrapper classes, with the bodies of their own that need no more
// than a few lines: the in-place match tests, and the own parse_string and batch bodies of MatchFirst, Optional
// and Suppress. And's bodies are in and_methods.cpp. Their scans (search_string, search_string_count,
// transform_string) are the common routines, which run each kind's own scan (grammar_scan.h).
#include "elements/forward.h"
#include "elements/structure.h"
#include "engine/and_methods.h"
#include "engine/batch.h"
#include "engine/bodies.h"
#include "engine/routines.h"
#include "engine/tokens.h"
#include "py/errors.h"

namespace quillex::engine {

using py::PyRef;

namespace {

// ---------------------------------------------------------------------------------------------------------------
// In-place tests. A rule gives the test at one position, `(text, pos) -> MatchResult`: either the element's own
// rule, called on its final kind so that it is a direct call, or the rule of a wrapper's inner element, which
// skips the wrapper's own level. Neither builds tokens or allocates.

template <class K>
auto own_rule(const Element& element) {
  const K& k = static_cast<const K&>(element);
  return [&k](std::string_view text, Pos pos) { return k.try_match_at(text, pos); };
}

auto inner_rule(const Element& element) {
  const Element& inner = *static_cast<const InnerElement&>(element).inner();
  return [&inner](std::string_view text, Pos pos) { return inner.try_match_at(text, pos); };
}

PyObject* answer(bool matched) { return Py_NewRef(matched ? Py_True : Py_False); }

// matches: the rule at position 0.
template <auto Rule>
PyObject* rule_matches(PyObject*, const Element& element, PyObject*, std::string_view text) {
  return answer(Rule(element)(text, 0).matched);
}

// ZeroOrMore and Optional match every str; nothing is tested.
PyObject* always_matches(PyObject*, const Element&, PyObject*, std::string_view) { return Py_NewRef(Py_True); }

// OneOrMore: the inner element's first test decides (a zero-length first match counts); the further iterations
// cannot change the answer.
PyObject* one_or_more_matches(PyObject*, const Element& element, PyObject*, std::string_view text) {
  return answer(inner_rule(element)(text, 0).matched);
}

PyObject* inner_parse_batch_count(PyObject*, const Element& element, PyObject* inputs) {
  return run_parse_batch_count_inner(*static_cast<const InnerElement&>(element).inner(), inputs);
}

// ---------------------------------------------------------------------------------------------------------------
// MatchFirst

// The first alternative whose parse succeeds gives the tokens (on the parse path, which leaves no tokens behind
// a failed alternative); when all fail (or there are none) the message is the class's own, without a position.
PyObject* match_first_parse_string(PyObject*, const Element& element, PyObject*, std::string_view text) {
  TokenBuffer tokens;
  for (const ElementRef& alt : static_cast<const MatchFirstElement&>(element).alternatives()) {
    const MatchResult m = alt->parse_into(text, 0, tokens);
    if (recursion_overflowed()) return nullptr;  // the frame raises RecursionError
    if (m.matched) return new_token_list(tokens);
  }
  return py::raise_value_error("No match found");
}

// ---------------------------------------------------------------------------------------------------------------
// Optional

// A test first, so that a failing input builds nothing; then the common routine (a zero-length match keeps its
// tokens: Optional(LineEnd()) on '' gives ['\n']).
PyObject* optional_parse_string(PyObject*, const Element& element, PyObject*, std::string_view text) {
  if (!inner_rule(element)(text, 0).matched) return py::new_empty_list_or_die();
  return run_parse_string(element, text);
}

// Every item matches, so the count is the list's length and no text is read (no UTF-8 form is made). The items
// must still be str, as for every batch method: the first other item in list order is refused.
PyObject* optional_parse_batch_count(PyObject*, const Element&, PyObject* inputs) {
  const BatchItems b = batch_items(inputs);
  for (std::size_t i = 0; i < b.n; ++i) {
    if (!PyUnicode_Check(b.items[i])) {
      (void)py::batch_item_type_error(b.items[i], static_cast<Py_ssize_t>(i));
      return nullptr;
    }
  }
  return py::new_count_or_die(b.n);
}

// ---------------------------------------------------------------------------------------------------------------
// Suppress

PyObject* suppress_parse_string(PyObject*, const Element& element, PyObject*, std::string_view text) {
  if (!inner_rule(element)(text, 0).matched) return py::raise_value_error("No match (suppressed)");
  return py::new_empty_list_or_die();
}

// Every input is tested (no identity shortcut). All matched inputs share one empty list; each failed input gets
// an empty list of its own.
PyObject* suppress_parse_batch(PyObject*, const Element& element, PyObject* inputs) {
  PyRef shared = PyRef::steal(py::new_empty_list_or_die());
  const BatchItems b = batch_items(inputs);
  if (b.n == 0) return shared.release();
  PyRef result = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(b.n)));
  if (!result) return py::pending_error();
  const auto rule = inner_rule(element);
  for (std::size_t i = 0; i < b.n; ++i) {
    std::string_view text;
    if (!batch_item_text(b.items[i], i, text)) return nullptr;  // unfilled slots are null, skipped on release
    const bool matched = rule(text, 0).matched;
    if (recursion_overflowed()) return nullptr;  // the frame raises RecursionError
    PyObject* slot = matched ? Py_NewRef(shared.get()) : PyList_New(0);
    if (slot == nullptr) return py::pending_error();
    PyList_SET_ITEM(result.get(), static_cast<Py_ssize_t>(i), slot);
  }
  return result.release();
}

// ---------------------------------------------------------------------------------------------------------------
// The tables: which body serves each method of each class. Every class here tests `matches` in place; the
// other methods are the common routines unless a class has its own.

constexpr MethodBodies in_place_matches(TextBody matches) {
  MethodBodies b = COMMON_BODIES;
  b.matches = matches;
  return b;
}

// The element's own rule.
template <class K>
constexpr MethodBodies tested_by_own_rule() {
  return in_place_matches(rule_matches<own_rule<K>>);
}

// Group, Combine and Suppress test and count exactly as their inner element would.
constexpr MethodBodies tested_by_inner() {
  MethodBodies b = in_place_matches(rule_matches<inner_rule>);
  b.parse_batch_count = inner_parse_batch_count;
  return b;
}

constexpr MethodBodies and_bodies() {
  MethodBodies b = tested_by_own_rule<AndElement>();
  b.parse_string = and_parse_string;
  b.search_string = and_search_string;
  b.parse_batch = and_parse_batch;
  b.parse_batch_count = and_parse_batch_count;
  return b;
}

constexpr MethodBodies match_first_bodies() {
  MethodBodies b = tested_by_own_rule<MatchFirstElement>();
  b.parse_string = match_first_parse_string;
  return b;
}

constexpr MethodBodies optional_bodies() {
  MethodBodies b = in_place_matches(always_matches);
  b.parse_string = optional_parse_string;
  b.parse_batch_count = optional_parse_batch_count;
  return b;
}

constexpr MethodBodies suppress_bodies() {
  MethodBodies b = tested_by_inner();
  b.parse_string = suppress_parse_string;
  b.parse_batch = suppress_parse_batch;
  return b;
}

}  // namespace

constinit const MethodBodies AND_BODIES = and_bodies();
constinit const MethodBodies MATCH_FIRST_BODIES = match_first_bodies();
constinit const MethodBodies OPTIONAL_BODIES = optional_bodies();
constinit const MethodBodies SUPPRESS_BODIES = suppress_bodies();
// Each test takes the Forward's read lock and delegates (a scan holds it once for all its tests); an unset
// Forward matches nothing.
constinit const MethodBodies FORWARD_BODIES = tested_by_own_rule<ForwardElement>();
constinit const MethodBodies GROUP_BODIES = tested_by_inner();
constinit const MethodBodies COMBINE_BODIES = tested_by_inner();
constinit const MethodBodies SKIP_TO_BODIES = tested_by_own_rule<SkipToElement>();
constinit const MethodBodies EXACTLY_BODIES = tested_by_own_rule<ExactlyElement>();
constinit const MethodBodies ONE_OR_MORE_BODIES = in_place_matches(one_or_more_matches);
constinit const MethodBodies ZERO_OR_MORE_BODIES = in_place_matches(always_matches);

}  // namespace quillex::engine
