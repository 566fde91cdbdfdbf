// The constructors (tp_new) of the 25 classes that have one. Each binds its arguments by its descriptor
// (descriptors.h, through py::ConstructorArguments::bind_tuple_dict), converts them in parameter order, builds one
// element and wraps it with the instance builders of classes.h. Gives a new object, or nullptr with the error
// set; a failure leaves no element and no reference behind.
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

[[nodiscard]] PyObject* empty_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* no_match_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* line_end_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* line_start_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* string_end_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* string_start_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* rest_of_line_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* forward_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;

[[nodiscard]] PyObject* literal_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* keyword_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* caseless_literal_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* caseless_keyword_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* char_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* word_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* regex_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* quoted_string_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;

[[nodiscard]] PyObject* match_first_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* zero_or_more_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* one_or_more_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* optional_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* group_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* suppress_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* combine_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* exactly_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;
[[nodiscard]] PyObject* skip_to_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept;

}  // namespace quillex
