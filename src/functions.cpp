#include "functions.h"

#include <string_view>

#include "descriptors.h"
#include "docs.h"
#include "elements/literals.h"
#include "elements/structure.h"
#include "py/binder.h"

namespace quillex {

namespace {

// The character sets. Orders differ on purpose: alphas and alphanums put upper case first (alphanums the digits
// last), printables starts with the digits and puts lower case before upper case, then the 32 ASCII
// punctuation characters in code order.
constexpr std::string_view NUMS = "0123456789";
constexpr std::string_view ALPHAS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr std::string_view ALPHANUMS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::string_view HEXNUMS = "0123456789abcdefABCDEF";
constexpr std::string_view PRINTABLES =
    "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";
constexpr std::string_view ALPHAS_LOWER = "abcdefghijklmnopqrstuvwxyz";
constexpr std::string_view ALPHAS_UPPER = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
static_assert(PRINTABLES.size() == 94);

// Each call makes a new str.
PyObject* nums(PyObject*, PyObject*) noexcept { return py::new_str_or_die(NUMS); }
PyObject* alphas(PyObject*, PyObject*) noexcept { return py::new_str_or_die(ALPHAS); }
PyObject* alphanums(PyObject*, PyObject*) noexcept { return py::new_str_or_die(ALPHANUMS); }
PyObject* hexnums(PyObject*, PyObject*) noexcept { return py::new_str_or_die(HEXNUMS); }
PyObject* printables(PyObject*, PyObject*) noexcept { return py::new_str_or_die(PRINTABLES); }
PyObject* alphas_lower(PyObject*, PyObject*) noexcept { return py::new_str_or_die(ALPHAS_LOWER); }
PyObject* alphas_upper(PyObject*, PyObject*) noexcept { return py::new_str_or_die(ALPHAS_UPPER); }

// one_of's separators: the 25 characters with the Unicode White_Space property.
bool is_white_space(char32_t c) noexcept {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// A MatchFirst of one literal element per whitespace-separated word, in text order: not sorted, not made
// unique, no longer word moved first (one_of('a ab') on 'ab' gives 'a'). A word is the exact bytes between
// separators.
PyObject* one_of_call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  py::BoundArguments bound(ONE_OF_DESCRIPTOR);
  std::string_view strs;
  if (!bound.bind_fastcall(args, nargs, kwnames) || !bound.str(0, strs)) return nullptr;
  ElementList words;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= strs.size();) {
    unsigned len = 1;
    if (i == strs.size() || is_white_space(decode_utf8_at(strs, i, len))) {
      if (i > start) words.push_back(make_literal_element(strs.substr(start, i - start)));
      start = i + len;
    }
    i += len;
  }
  if (words.empty()) return py::raise_value_error("one_of requires at least one string");
  return new_match_first_object(make_element<MatchFirstElement>(std::move(words)));
}

PyObject* one_of(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  return py::memory_error_on_exhaustion([&] { return one_of_call(args, nargs, kwnames); });
}

}  // namespace

PyMethodDef MODULE_FUNCTIONS[MODULE_FUNCTION_COUNT] = {
    {"alphas", alphas, METH_NOARGS, ALPHAS_DOC},
    {"alphanums", alphanums, METH_NOARGS, ALPHANUMS_DOC},
    {"nums", nums, METH_NOARGS, NUMS_DOC},
    {"printables", printables, METH_NOARGS, PRINTABLES_DOC},
    {"hexnums", hexnums, METH_NOARGS, HEXNUMS_DOC},
    {"alphas_upper", alphas_upper, METH_NOARGS, ALPHAS_UPPER_DOC},
    {"alphas_lower", alphas_lower, METH_NOARGS, ALPHAS_LOWER_DOC},
    {"one_of", py::as_method_function(one_of), METH_FASTCALL | METH_KEYWORDS, ONE_OF_DOC},
};

}  // namespace quillex
