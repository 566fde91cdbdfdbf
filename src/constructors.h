// The constructors (tp_new) of the 25 classes that have one. Each binds its arguments by its descriptor
// (descriptors.h, through py::ConstructorArguments::bind_tuple_dict), converts them in parameter order, builds one
// element and wraps it with the instance builders of classes.h. Gives a new object, or nullptr with the error
// set; a failure leaves no element and no reference behind. They may throw std::bad_alloc: the type's tp_new
// entry (classes.cpp) runs them through py::memory_error_on_exhaustion.
//
// One function per class; each source file defines one family:
//   constructors_noarg.cpp       Empty, NoMatch, LineEnd, LineStart, StringEnd, StringStart, rest_of_line,
//                                Forward
//   constructors_terminal.cpp    Literal, Keyword, CaselessLiteral, CaselessKeyword, Char, Word, Regex,
//                                QuotedString
//   constructors_combinator.cpp  MatchFirst, ZeroOrMore, OneOrMore, Optional, Group, Suppress, Combine,
//                                Exactly, SkipTo
#pragma once

#include "classes.h"

namespace quillex {

[[nodiscard]] PyObject* empty_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* no_match_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* line_end_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* line_start_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* string_end_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* string_start_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* rest_of_line_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* forward_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);

[[nodiscard]] PyObject* literal_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* keyword_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* caseless_literal_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* caseless_keyword_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* char_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* word_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* regex_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* quoted_string_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);

[[nodiscard]] PyObject* match_first_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* zero_or_more_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* one_or_more_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* optional_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* group_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* suppress_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* combine_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* exactly_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);
[[nodiscard]] PyObject* skip_to_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);

}  // namespace quillex
