// The argument binder: binds the arguments of every constructor, method and function to named parameters,
// converts each parameter, and owns every TypeError text of that work.
//
// Use (each step gives false with the exception set; the first failure is the one raised):
//
//   py::ConstructorArguments args(WORD_NEW_DESCRIPTOR);        // a method: py::BoundArguments
//   if (!args.bind_tuple_dict(tuple, kwargs)) return nullptr;     // a method: bind_fastcall(...)
//   std::string_view init;
//   std::optional<std::string_view> body;
//   if (!args.str(0, init) || !args.optional_str(1, body)) return nullptr;
//
// Binding: positionals fill the slots from the first parameter; more positionals than parameters is an error
// before any keyword is looked at; keywords are taken in the call's order (the dict's order for tp_new), each
// matched to a parameter name by its UTF-8 bytes (unknown name, or a slot already filled, is an error at
// once); then any empty required slot is an error naming every missing parameter. Binding allocates nothing
// on success; slots hold borrowed references, valid for the call.
//
// Conversions: a TypeError raised while converting becomes TypeError "argument '{}': {}" (the parameter's
// name around the original text, whose `__cause__` it takes over); any other error (UnicodeEncodeError,
// OverflowError) is raised unchanged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "py/errors.h"
#include "py/pyref.h"
#include "py/str_units.h"

namespace quillex::py {

inline constexpr std::size_t MAX_PARAMETERS = 4;

// One immutable record per callable that takes arguments. Every parameter can be given by position or by
// keyword; none is keyword-only; no callable takes extra arguments.
struct ArgumentDescriptor {
  std::string_view function_name;  // "__new__" for constructors
  std::string_view class_name;     // empty for a module function
  std::array<std::string_view, MAX_PARAMETERS> parameter_names;
  std::uint8_t parameter_count;
  std::uint8_t required_count;  // the leading parameters that must be supplied; the rest have defaults
};

// The signature of a METH_FASTCALL | METH_KEYWORDS entry, and its cast to the type of a method record. Entries
// are noexcept, as every function the interpreter calls: no C++ exception unwinds through the interpreter's
// frames. std::bad_alloc is the only one that can arise; the method entries turn it into MemoryError
// (engine/frame.cpp), and in any other entry it stops the process at the boundary.
using FastcallEntry = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) noexcept;
inline PyCFunction as_method_function(FastcallEntry entry) noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry));
}

// ---------------------------------------------------------------------------------------------------------------
// Binding

// Out-of-line binding with every rule and error text; `slots` has room for MAX_PARAMETERS and is zeroed.
[[nodiscard]] bool bind_fastcall_arguments(const ArgumentDescriptor& d, PyObject* const* args, Py_ssize_t nargs,
                                           PyObject* kwnames, PyObject** slots);
[[nodiscard]] bool bind_tuple_dict_arguments(const ArgumentDescriptor& d, PyObject* args, PyObject* kwargs,
                                             PyObject** slots);

// ---------------------------------------------------------------------------------------------------------------
// Conversions of one object, without the parameter prefix (see `wrap_argument_error`).

// str or str subclass: its UTF-8 view, read in place (valid while the caller holds the str). Not a str:
// downcast TypeError "PyString"; no UTF-8 form (lone surrogates): the interpreter's UnicodeEncodeError.
[[nodiscard]] inline bool extract_str_argument(PyObject* obj, std::string_view& out) {
  if (PyUnicode_Check(obj)) [[likely]] {
    // A compact ASCII str is its own UTF-8 form: no call needed.
    if (PyUnicode_IS_COMPACT_ASCII(obj)) [[likely]] {
      out = {reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(obj)),
             static_cast<std::size_t>(PyUnicode_GET_LENGTH(obj))};
      return true;
    }
    Py_ssize_t n = 0;
    const char* p = PyUnicode_AsUTF8AndSize(obj, &n);
    if (p == nullptr) return false;
    out = {p, static_cast<std::size_t>(n)};
    return true;
  }
  (void)downcast_type_error(obj, "PyString");
  return false;
}
// As extract_str_argument, for a body that can read a str in its own representation (py/str_units.h): a str
// whose UTF-8 form is not at hand is checked to have one without making it (a lone surrogate raises the
// interpreter's UnicodeEncodeError, exactly as making the form would) and is left unviewed: `out` is the null
// view (out.data() == nullptr), which no str's view ever is.
[[nodiscard]] inline bool extract_str_argument_or_units(PyObject* obj, std::string_view& out) {
  if (PyUnicode_Check(obj) && !utf8_form_at_hand(obj)) [[unlikely]] {
    if (holds_surrogate(str_units(obj))) return extract_str_argument(obj, out);  // raises
    out = {};
    return true;
  }
  return extract_str_argument(obj, out);
}
// The same without the surrogate check, for a body that makes it itself while it reads the units.
[[nodiscard]] inline bool extract_str_argument_or_unchecked_units(PyObject* obj, std::string_view& out) {
  if (PyUnicode_Check(obj) && !utf8_form_at_hand(obj)) [[unlikely]] {
    out = {};
    return true;
  }
  return extract_str_argument(obj, out);
}
// list or list subclass (items not examined); else downcast TypeError "PyList".
[[nodiscard]] inline bool extract_list_argument(PyObject* obj) {
  if (PyList_Check(obj)) [[likely]]
    return true;
  (void)downcast_type_error(obj, "PyList");
  return false;
}
// True and False; a bool type named numpy.bool_ / numpy.bool through its own truth conversion; anything else
// (integers included): downcast TypeError "PyBool".
[[nodiscard]] bool extract_bool_argument(PyObject* obj, bool& out);
// An int (bool included) as an unsigned 64-bit value, any other object through `__index__` first. Out of
// range: the interpreter's OverflowError; no `__index__`: the interpreter's TypeError.
[[nodiscard]] bool extract_count_argument(PyObject* obj, std::uint64_t& out);

// Turns the pending conversion error into the one to raise for `parameter`: an exact TypeError becomes
// TypeError "argument '{}': {}"; others pass unchanged; no pending error becomes SystemError "attempted to
// fetch exception but none was set". Always returns false.
bool wrap_argument_error(std::string_view parameter);

[[nodiscard]] bool batch_item_type_error(PyObject* item, Py_ssize_t index);
// An item of a batch list: its UTF-8 view, or TypeError "argument 'inputs': item {i}: '{}' object cannot be
// converted to 'PyString'" (the interpreter's UnicodeEncodeError for a str without UTF-8 form).
[[nodiscard]] inline bool extract_batch_item(PyObject* item, Py_ssize_t index, std::string_view& out) {
  if (PyUnicode_Check(item)) [[likely]]
    return extract_str_argument(item, out);
  return batch_item_type_error(item, index);
}

// ---------------------------------------------------------------------------------------------------------------
// Bound arguments of one call: binding plus the per-parameter conversions, each wrapped with the parameter's
// name. Parameters are addressed by their index in the descriptor.

class BoundArguments {
 public:
  explicit BoundArguments(const ArgumentDescriptor& d) noexcept : d_(d) {}
  BoundArguments(const BoundArguments&) = delete;
  BoundArguments& operator=(const BoundArguments&) = delete;

  // Fast-call convention (METH_FASTCALL | METH_KEYWORDS). The common call, all parameters by position and no
  // keywords, is decided inline.
  [[nodiscard]] bool bind_fastcall(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (kwnames == nullptr && nargs == d_.parameter_count) [[likely]] {
      for (std::size_t i = 0; i < d_.parameter_count; ++i) slots_[i] = args[i];
      return true;
    }
    return bind_fastcall_arguments(d_, args, nargs, kwnames, slots_.data());
  }
  // The bound object (borrowed) or nullptr when the parameter was not supplied: the `object` kind (`expr`).
  PyObject* operator[](std::size_t i) const noexcept { return slots_[i]; }
  bool supplied(std::size_t i) const noexcept { return slots_[i] != nullptr; }

  // str (required parameter).
  [[nodiscard]] bool str(std::size_t i, std::string_view& out) const {
    return extract_str_argument(slots_[i], out) || wrap(i);
  }
  // str for a body that reads units when the UTF-8 form is not at hand (extract_str_argument_or_units).
  [[nodiscard]] bool str_or_units(std::size_t i, std::string_view& out) const {
    return extract_str_argument_or_units(slots_[i], out) || wrap(i);
  }
  [[nodiscard]] bool str_or_unchecked_units(std::size_t i, std::string_view& out) const {
    return extract_str_argument_or_unchecked_units(slots_[i], out) || wrap(i);
  }
  // str with a default (used when absent; None is refused like any non-str).
  [[nodiscard]] bool str_or(std::size_t i, std::string_view fallback, std::string_view& out) const {
    if (slots_[i] == nullptr) {
      out = fallback;
      return true;
    }
    return str(i, out);
  }
  // Optional str: absent or None gives no value.
  [[nodiscard]] bool optional_str(std::size_t i, std::optional<std::string_view>& out) const;
  // list (or subclass): the list object itself.
  [[nodiscard]] bool list(std::size_t i, PyObject*& out) const {
    if (!extract_list_argument(slots_[i])) return wrap(i);
    out = slots_[i];
    return true;
  }
  // bool with a default (used when absent).
  [[nodiscard]] bool boolean(std::size_t i, bool fallback, bool& out) const;
  // Unsigned 64-bit count (required parameter).
  [[nodiscard]] bool count(std::size_t i, std::uint64_t& out) const;

 protected:
  bool wrap(std::size_t i) const { return wrap_argument_error(d_.parameter_names[i]); }

  const ArgumentDescriptor& d_;
  std::array<PyObject*, MAX_PARAMETERS> slots_{};
};

// Bound arguments of a constructor (tp_new convention: args tuple, kwargs dict or nullptr). The dict, unlike the
// tuple or a fast call's array, is a mutable container that may be the only holder of its values, and a later
// conversion can run Python code (`__index__`, `__bool__`) that empties it; so the values bound from it are
// held until the holder is destroyed, and every view and object taken from them stays valid for the call.
class ConstructorArguments : public BoundArguments {
 public:
  using BoundArguments::BoundArguments;

  [[nodiscard]] bool bind_tuple_dict(PyObject* args, PyObject* kwargs) {
    if (!bind_tuple_dict_arguments(d_, args, kwargs, slots_.data())) return false;
    if (kwargs != nullptr) {
      for (auto i = static_cast<std::size_t>(PyTuple_GET_SIZE(args)); i < d_.parameter_count; ++i) {
        held_[i] = PyRef::borrow(slots_[i]);
      }
    }
    return true;
  }

 private:
  std::array<PyRef, MAX_PARAMETERS> held_{};
};

}  // namespace quillex::py
