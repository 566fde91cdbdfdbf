// The constructors of the terminal classes: bind and convert the arguments in parameter order, build the
// element (which formats its message and prebuilds its tokens, tables and compiled patterns once, here), and
// wrap it. Regex compile errors are ValueErrors raised as the factory words them, without an argument prefix.
#include <optional>
#include <string>
#include <string_view>

#include "constructors.h"
#include "descriptors.h"
#include "elements/chars.h"
#include "elements/literals.h"
#include "elements/regex.h"

namespace quillex {

namespace {

// The one str argument `s` of Literal, Keyword, CaselessLiteral, CaselessKeyword and Char.
template <ClassId C>
[[nodiscard]] bool bind_text(PyObject* args, PyObject* kwargs, std::string_view& s) {
  py::ConstructorArguments bound(CONSTRUCTOR_DESCRIPTOR<C>);
  return bound.bind_tuple_dict(args, kwargs) && bound.str(0, s);
}

template <ClassId C, class ElementKind>
PyObject* new_from_text(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  std::string_view s;
  if (!bind_text<C>(args, kwargs, s)) return nullptr;
  return new_element_object<C>(subtype, make_element<ElementKind>(s));
}

}  // namespace

// The object keeps its own str of the argument's bytes (not the argument itself) and, for Literal, its own
// copy of the failure text.
PyObject* literal_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  std::string_view s;
  if (!bind_text<ClassId::Literal>(args, kwargs, s)) return nullptr;
  ElementRef element = make_literal_element(s);
  return new_literal_object(subtype, std::move(element), py::PyRef::steal(py::new_str_or_throw(s)),
                            literal_message(s));
}

PyObject* keyword_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  std::string_view s;
  if (!bind_text<ClassId::Keyword>(args, kwargs, s)) return nullptr;
  ElementRef element = make_element<KeywordElement>(s);
  return new_keyword_object(subtype, std::move(element), py::PyRef::steal(py::new_str_or_throw(s)));
}

PyObject* caseless_literal_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_from_text<ClassId::CaselessLiteral, CaselessLiteralElement>(subtype, args, kwargs);
}

PyObject* caseless_keyword_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_from_text<ClassId::CaselessKeyword, CaselessKeywordElement>(subtype, args, kwargs);
}

PyObject* char_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  return new_from_text<ClassId::Char, CharElement>(subtype, args, kwargs);
}

// body_chars absent or None: the body is a copy of the initial set.
PyObject* word_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  py::ConstructorArguments bound(CONSTRUCTOR_DESCRIPTOR<ClassId::Word>);
  std::string_view init;
  std::optional<std::string_view> body;
  if (!bound.bind_tuple_dict(args, kwargs) || !bound.str(0, init) || !bound.optional_str(1, body)) return nullptr;
  return new_element_object<ClassId::Word>(subtype, make_element<WordElement>(init, body));
}

PyObject* regex_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  py::ConstructorArguments bound(CONSTRUCTOR_DESCRIPTOR<ClassId::Regex>);
  std::string_view pattern;
  if (!bound.bind_tuple_dict(args, kwargs) || !bound.str(0, pattern)) return nullptr;
  RegexBuild build = make_regex_element(pattern);
  if (!build.element) return py::raise_value_error(build.error);
  return new_element_object<ClassId::Regex>(subtype, std::move(build.element));
}

PyObject* quoted_string_new(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) {
  py::ConstructorArguments bound(CONSTRUCTOR_DESCRIPTOR<ClassId::QuotedString>);
  std::string_view quote_char;
  std::optional<std::string_view> esc_char;
  bool multiline = false;
  bool unquote = true;
  if (!bound.bind_tuple_dict(args, kwargs) || !bound.str_or(0, "\"", quote_char) ||
      !bound.optional_str(1, esc_char) || !bound.boolean(2, false, multiline) || !bound.boolean(3, true, unquote)) {
    return nullptr;
  }
  return new_element_object<ClassId::QuotedString>(
      subtype, make_element<QuotedStringElement>(quote_char, esc_char, multiline, unquote));
}

}  // namespace quillex
