#include "functions.h"

#include <string_view>

#include "descriptors.h"
#include "docs.h"
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
PyObject* nums(PyObject*, PyObject*) { return py::new_str_or_die(NUMS); }
PyObject* alphas(PyObject*, PyObject*) { return py::new_str_or_die(ALPHAS); }
PyObject* alphanums(PyObject*, PyObject*) { return py::new_str_or_die(ALPHANUMS); }
PyObject* hexnums(PyObject*, PyObject*) { return py::new_str_or_die(HEXNUMS); }
PyObject* printables(PyObject*, PyObject*) { return py::new_str_or_die(PRINTABLES); }
PyObject* alphas_lower(PyObject*, PyObject*) { return py::new_str_or_die(ALPHAS_LOWER); }
PyObject* alphas_upper(PyObject*, PyObject*) { return py::new_str_or_die(ALPHAS_UPPER); }

// Placeholder until the literal and MatchFirst elements land: binds and converts `strs`, then refuses.
PyObject* one_of(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  py::BoundArguments bound(ONE_OF_DESCRIPTOR);
  std::string_view strs;
  if (!bound.bind_fastcall(args, nargs, kwnames) || !bound.str(0, strs)) return nullptr;
  return py::raise_error(PyExc_NotImplementedError, "one_of is not available yet");
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
