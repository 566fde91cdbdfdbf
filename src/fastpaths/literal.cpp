// The seven methods of Literal. None calls an operation of the element: the tests at 0 apply the literal rule
// (LiteralElement::matches_at) in place, and the searches run the substring searcher over the text. The token
// of a match is the object's cached str itself, so no str is made but transform_string's result.
#include "fastpaths/literal.h"

#include <string>

#include "classes.h"
#include "elements/literals.h"
#include "engine/batch.h"
#include "engine/bodies.h"
#include "engine/transform_result.h"
#include "fastpaths/match_lists.h"
#include "py/errors.h"

namespace quillex::engine {

namespace {

using fastpaths::count_literal_matches;

const LiteralElement& as_literal(const Element& e) noexcept { return static_cast<const LiteralElement&>(e); }

LiteralObject& literal_object(PyObject* self) noexcept { return object_layout<ClassId::Literal>(self); }

struct LiteralAtStart {
  const LiteralElement& literal;
  bool operator()(std::string_view text) const noexcept { return literal.matches_at(text, 0); }
};

PyObject* literal_parse_string(PyObject* self, const Element& element, PyObject*, std::string_view text) {
  LiteralObject& o = literal_object(self);
  if (!as_literal(element).matches_at(text, 0)) return py::raise_value_error(o.message);
  return fastpaths::new_cached_token_list(o.cached_text.get());
}

PyObject* literal_matches(PyObject*, const Element& element, PyObject*, std::string_view text) {
  return Py_NewRef(as_literal(element).matches_at(text, 0) ? Py_True : Py_False);
}

PyObject* literal_search_string(PyObject* self, const Element& element, PyObject*, std::string_view text) {
  return fastpaths::repeated_token_list(literal_object(self).cached_text.get(),
                                        count_literal_matches(as_literal(element).text(), text));
}

PyObject* literal_search_string_count(PyObject*, const Element& element, PyObject*, std::string_view text) {
  return py::new_count_or_die(count_literal_matches(as_literal(element).text(), text));
}

PyObject* literal_parse_batch(PyObject* self, const Element& element, PyObject* inputs) {
  return fastpaths::parse_batch_match_lists(inputs, literal_object(self).cached_text.get(),
                                            LiteralAtStart{as_literal(element)});
}

// Empty, uniform, then the previous-item cache; no input-period step and no verdict cache.
PyObject* literal_parse_batch_count(PyObject*, const Element& element, PyObject* inputs) {
  return fastpaths::count_match_lists_batch(inputs, LiteralAtStart{as_literal(element)},
                                            [](const BatchItems& b, LiteralAtStart& test, std::uint64_t& count) {
                                              return count_with_last_verdict(b, test, count);
                                            });
}

// Every occurrence replaced, always into a new str: counted first, then written once into the result made at
// its exact size. The empty literal only matches with zero length, so it replaces nothing.
PyObject* literal_transform_string(PyObject*, const Element& element, PyObject* s, std::string_view text,
                                   PyObject* replacement_obj, std::string_view replacement) {
  const std::string_view literal = as_literal(element).text();
  if (literal.empty()) return new_str_copy(s);
  const std::uint64_t count = count_literal_matches(literal, text);
  return transform_counted(s, text, replacement_obj, replacement, count, count * literal.size(), [&](auto&& on_span) {
    fastpaths::SubstringFinder finder(literal);
    (void)fastpaths::find_literal_occurrences(finder, text, 0, text.size(),
                                              [&](std::size_t h) { on_span(h, h + literal.size()); });
    return true;
  });
}

}  // namespace

const MethodBodies LITERAL_BODIES = {literal_parse_string,      literal_matches,
                                     literal_search_string,     literal_search_string_count,
                                     literal_parse_batch,       literal_parse_batch_count,
                                     literal_transform_string};

}  // namespace quillex::engine
