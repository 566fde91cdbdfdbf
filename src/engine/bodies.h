// The class-method table: which body serves each of the seven methods of a class. The method frame binds the
// arguments, checks and borrows the receiver and takes the UTF-8 views; then it calls the class's body with the
// receiver (borrowed, already known to be of the class), its element and the views. A body gives a new
// reference, or nullptr with an exception set.
#pragma once

#include <string_view>

#include "classes.h"
#include "elements/element.h"
#include "py/pyref.h"

namespace quillex::engine {

// parse_string, matches, search_string, search_string_count: `s` is the str object, `text` its UTF-8 view.
using TextBody = PyObject* (*)(PyObject* self, const Element& element, PyObject* s, std::string_view text);
// parse_batch, parse_batch_count: `inputs` is a list (or subclass); its items are not yet checked.
using BatchBody = PyObject* (*)(PyObject* self, const Element& element, PyObject* inputs);
// transform_string: `s`/`text` and `replacement`/`replacement_text`.
using TransformBody = PyObject* (*)(PyObject* self, const Element& element, PyObject* s, std::string_view text,
                                    PyObject* replacement, std::string_view replacement_text);

struct MethodBodies {
  TextBody parse_string;
  TextBody matches;
  TextBody search_string;
  TextBody search_string_count;
  BatchBody parse_batch;
  BatchBody parse_batch_count;
  TransformBody transform_string;
  // The methods (bits 1 << Method) whose bodies take a str whose UTF-8 form is not at hand without its view:
  // the frame then checks that the str has a UTF-8 form, without making it, and hands the body the null view
  // (text.data() == nullptr; py::extract_str_argument_or_units), so the body reads the str's own units. Only
  // search_string, search_string_count and transform_string (for `s`) may be marked.
  std::uint8_t reads_units = 0;
  // Of the methods marked in reads_units, those whose bodies look for lone surrogates themselves, in the pass
  // that reads the units for their answer: the frame hands them the null view unchecked, and such a body raises
  // what py::extract_str_argument raises for a str with a surrogate (by calling it).
  std::uint8_t checks_surrogates = 0;
};

constexpr std::uint8_t method_bit(Method m) noexcept {
  return static_cast<std::uint8_t>(1u << static_cast<unsigned>(m));
}

// Whether `text` is the null view of a str handed over unviewed (see MethodBodies::reads_units).
constexpr bool unviewed(std::string_view text) noexcept { return text.data() == nullptr; }

// One table per class. Defined beside the bodies they name: terminals in their src/fastpaths/ files,
// Char and the positional and constant classes in src/engine/bodies_positional.cpp, combinators and wrappers in
// src/engine/bodies_combinators.cpp.
extern const MethodBodies LITERAL_BODIES, KEYWORD_BODIES, WORD_BODIES, REGEX_BODIES, CASELESS_LITERAL_BODIES,
    CASELESS_KEYWORD_BODIES, QUOTED_STRING_BODIES;
extern const MethodBodies CHAR_BODIES, EMPTY_BODIES, NO_MATCH_BODIES, LINE_START_BODIES, LINE_END_BODIES,
    STRING_START_BODIES, STRING_END_BODIES, REST_OF_LINE_BODIES;
extern const MethodBodies AND_BODIES, MATCH_FIRST_BODIES, OPTIONAL_BODIES, ZERO_OR_MORE_BODIES, ONE_OR_MORE_BODIES,
    EXACTLY_BODIES, GROUP_BODIES, SUPPRESS_BODIES, COMBINE_BODIES, SKIP_TO_BODIES, FORWARD_BODIES;

// Adapters from the common routines to the body signatures, for the table entries marked "common".
PyObject* common_parse_string(PyObject* self, const Element& element, PyObject* s, std::string_view text);
PyObject* common_matches(PyObject* self, const Element& element, PyObject* s, std::string_view text);
PyObject* common_search_string(PyObject* self, const Element& element, PyObject* s, std::string_view text);
PyObject* common_search_string_count(PyObject* self, const Element& element, PyObject* s, std::string_view text);
PyObject* common_parse_batch(PyObject* self, const Element& element, PyObject* inputs);
PyObject* common_parse_batch_count(PyObject* self, const Element& element, PyObject* inputs);
PyObject* common_transform_string(PyObject* self, const Element& element, PyObject* s, std::string_view text,
                                  PyObject* replacement, std::string_view replacement_text);

// A table whose seven entries are all the common adapters.
inline constexpr MethodBodies COMMON_BODIES = {common_parse_string,      common_matches,
                                               common_search_string,     common_search_string_count,
                                               common_parse_batch,       common_parse_batch_count,
                                               common_transform_string};

}  // namespace quillex::engine
