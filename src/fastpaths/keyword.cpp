// The methods of Keyword. Six apply the keyword rule (KeywordElement::matches_at: the bytes, then no identifier
// byte after them) to the text in place, and transform_string replaces the count's matches. The token of a
// match is the object's cached str itself, so none of the six makes a str.
#include "fastpaths/keyword.h"

#include <optional>
#include <vector>

#include "classes.h"
#include "engine/batch.h"
#include "engine/bodies.h"
#include "engine/transform_result.h"
#include "engine/unit_results.h"
#include "fastpaths/match_lists.h"
#include "py/binder.h"
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

// The keyword's matches over the units of a str handed over unviewed (for_each_unit_keyword_match), as
// on_match(start, end) in code points; false when the unit search gave up (see there). An ASCII keyword over
// latin-1 units is the byte scan itself: the units are bytes, the keyword's bytes are its units, and no unit
// of 0x80 and above is an identifier byte, as no UTF-8 byte of a non-ASCII code point is.
template <class OnMatch>
bool for_each_unit_match(const KeywordElement& keyword, bool ascii, const py::StrUnits& units, OnMatch&& on_match) {
  const std::size_t n = keyword.length();
  if (units.kind == 1 && ascii) {
    fastpaths::for_each_keyword_match(keyword, units.as_bytes(), [&](std::size_t h) { on_match(h, h + n); });
    return true;
  }
  std::vector<std::uint32_t> storage;
  std::string_view word;
  if (!py::utf8_as_units(keyword.text(), units.kind, storage, word)) return true;  // it stands nowhere
  return py::by_unit(units.kind, [&](auto unit) {
    return fastpaths::for_each_unit_keyword_match<unit()>(word, units.as_bytes(), on_match);
  });
}

// Whether the keyword is one or two identifier bytes, as count_keyword_matches counts without walking.
bool short_identifier(const KeywordElement& keyword) noexcept {
  const std::string_view w = keyword.text();
  return !w.empty() && w.size() <= 2 && keyword.ident()[static_cast<unsigned char>(w[0])] != 0 &&
         keyword.ident()[static_cast<unsigned char>(w.back())] != 0;
}

// count_keyword_matches over the text's UTF-8 bytes, or over the units of a str handed over unviewed, whose
// matches are the same (see for_each_unit_match): the empty keyword's zero-length matches are its UTF-8 bytes
// that are not identifier bytes. The unviewed str comes unchecked (MethodBodies::checks_surrogates): a short
// keyword's count looks for surrogates in its own pass (with AVX2), any other count first; one found raises
// the error of the UTF-8 route. A unit search that gave up counts the UTF-8 form, made then. false with the
// interpreter's error when that form cannot be made.
bool keyword_count(PyObject* self, const KeywordElement& keyword, PyObject* s, std::string_view text,
                   std::uint64_t& count) {
  if (unviewed(text)) {
    const py::StrUnits units = py::str_units(s);
    if (units.kind != 1 && short_identifier(keyword) && best_simd() == Simd::AVX2) {
      const fastpaths::UnitKeywordCount r = py::by_unit(units.kind, [&](auto unit) {
        using U = py::unit_t<unit()>;
        if constexpr (unit() == 1) {
          return fastpaths::UnitKeywordCount{};
        } else {
          const U word[2] = {static_cast<U>(keyword.text()[0]), static_cast<U>(keyword.text().back())};
          return fastpaths::count_short_unit_keyword_avx2(word, keyword.length(),
                                                          reinterpret_cast<const U*>(units.data), units.length);
        }
      });
      if (!r.surrogate) {
        count = r.count;
        return true;
      }
    }
    // A str with a lone surrogate has no UTF-8 form: asking for it raises the UTF-8 route's error.
    if (py::holds_surrogate(units)) {
      return py::extract_str_argument(s, text) && keyword_count(self, keyword, s, text, count);
    }
    if (keyword.length() == 0) {
      count = py::utf8_length(units) - count_ident_units(units);
      return true;
    }
    const bool ascii = PyUnicode_IS_ASCII(cached_text(self));
    if (units.kind == 1 && ascii) {
      count = count_keyword_matches(keyword, units.as_bytes());
      return true;
    }
    count = 0;
    if (for_each_unit_match(keyword, ascii, units, [&count](std::size_t, std::size_t) { ++count; })) return true;
    if (!py::extract_str_argument(s, text)) return false;
  }
  count = count_keyword_matches(keyword, text);
  return true;
}

PyObject* keyword_search_string(PyObject* self, const Element& element, PyObject* s, std::string_view text) {
  std::uint64_t count = 0;
  if (!keyword_count(self, as_keyword(element), s, text, count)) return nullptr;
  return fastpaths::repeated_token_list(cached_text(self), count);
}

PyObject* keyword_search_string_count(PyObject* self, const Element& element, PyObject* s, std::string_view text) {
  std::uint64_t count = 0;
  if (!keyword_count(self, as_keyword(element), s, text, count)) return nullptr;
  return py::new_count_or_die(count);
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
// length, which replaces nothing. A str handed over unviewed is read and written in its own units, but for a
// text the unit search gives up on, which is transformed in UTF-8.
PyObject* keyword_transform_string(PyObject* self, const Element& element, PyObject* s, std::string_view text,
                                   PyObject* replacement_obj, std::string_view replacement) {
  const KeywordElement& keyword = as_keyword(element);
  const std::size_t n = keyword.length();
  if (n == 0) return new_str_copy(s);
  if (unviewed(text)) {
    const py::StrUnits units = py::str_units(s);
    PyObject* cached = cached_text(self);
    const bool ascii = PyUnicode_IS_ASCII(cached);
    const auto scan = [&](auto&& on_span) { return for_each_unit_match(keyword, ascii, units, on_span); };
    const std::optional<PyObject*> result =
        transform_unit_spans(s, units, replacement_obj, PyUnicode_MAX_CHAR_VALUE(cached), scan);
    if (result) return *result;
    if (!py::extract_str_argument(s, text)) return nullptr;
  }
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
                                     keyword_transform_string,
                                     method_bit(Method::SearchString) | method_bit(Method::SearchStringCount) |
                                         method_bit(Method::TransformString),
                                     method_bit(Method::SearchString) | method_bit(Method::SearchStringCount)};

}  // namespace quillex::engine
