// The methods of Keyword. Six apply the keyword rule (KeywordElement::matches_at: the bytes, then no identifier
// byte after them) to the text in place, and transform_string replaces the count's matches. The token of a
// match is the object's cached str itself, so none of the six makes a str.
#include "fastpaths/keyword.h"

#include "classes.h"
#include "engine/batch.h"
#include "engine/bodies.h"
#include "engine/transform_result.h"
#include "fastpaths/match_lists.h"
#include "py/errors.h"

namespace quillex::engine {

namespace {

using fastpaths::count_keyword_matches;

const KeywordElement& as_keyword(const Element& e) noexcept { return static_cast<const KeywordElement&>(e); }

PyObject* cached_text(PyObject* self) noexcept { return object_layout<ClassId::Keyword>(self).cached_text.get(); }

struct KeywordAtStart {
  const KeywordElement& keyword;
  bool operator()(std::string_view text) const noexcept { return keyword.matches_at(text, 0); }
};

PyObject* keyword_parse_string(PyObject* self, const Element& element, PyObject*, std::string_view text) {
  if (!as_keyword(element).matches_at(text, 0)) return py::raise_value_error("Expected keyword");
  return fastpaths::new_cached_token_list(cached_text(self));
}

PyObject* keyword_matches(PyObject*, const Element& element, PyObject*, std::string_view text) {
  return Py_NewRef(as_keyword(element).matches_at(text, 0) ? Py_True : Py_False);
}

PyObject* keyword_search_string(PyObject* self, const Element& element, PyObject*, std::string_view text) {
  return fastpaths::repeated_token_list(cached_text(self), count_keyword_matches(as_keyword(element), text));
}

PyObject* keyword_search_string_count(PyObject*, const Element& element, PyObject*, std::string_view text) {
  return py::new_count_or_die(count_keyword_matches(as_keyword(element), text));
}

PyObject* keyword_parse_batch(PyObject* self, const Element& element, PyObject* inputs) {
  return fastpaths::parse_batch_match_lists(inputs, cached_text(self), KeywordAtStart{as_keyword(element)});
}

// Empty, uniform, then the verdict cache; no input-period step.
PyObject* keyword_parse_batch_count(PyObject*, const Element& element, PyObject* inputs) {
  return fastpaths::count_match_lists_batch(inputs, KeywordAtStart{as_keyword(element)},
                                            [](const BatchItems& b, KeywordAtStart& test, std::uint64_t& count) {
                                              return count_with_verdict_cache(b, test, count);
                                            });
}

// Every match replaced: the matches of the common routine (the scan rule over try_match_at), counted to size
// the result, then found by the count's candidate loop to write it. The empty keyword matches only with zero
// length, which replaces nothing.
PyObject* keyword_transform_string(PyObject*, const Element& element, PyObject* s, std::string_view text,
                                   PyObject* replacement_obj, std::string_view replacement) {
  const KeywordElement& keyword = as_keyword(element);
  const std::size_t n = keyword.length();
  if (n == 0) return new_str_copy(s);
  const std::uint64_t count = count_keyword_matches(keyword, text);
  return transform_counted(s, text, replacement_obj, replacement, count, count * n, [&](auto&& on_span) {
    fastpaths::for_each_keyword_match(keyword, text, [&](std::size_t start) { on_span(start, start + n); });
    return true;
  });
}

}  // namespace

const MethodBodies KEYWORD_BODIES = {keyword_parse_string,      keyword_matches,
                                     keyword_search_string,     keyword_search_string_count,
                                     keyword_parse_batch,       keyword_parse_batch_count,
                                     keyword_transform_string};

}  // namespace quillex::engine
