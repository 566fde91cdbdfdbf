// The one path from a failure to a Python exception. Every raise in the module goes through these; each returns
// nullptr so a body can `return raise_value_error(...)`. No C++ exception ever reaches the interpreter.
#pragma once

#include <new>
#include <string_view>

#include "py/pyref.h"

namespace quillex::py {

[[nodiscard]] PyObject* raise_error(PyObject* type, std::string_view message);
[[nodiscard]] inline PyObject* raise_value_error(std::string_view m) { return raise_error(PyExc_ValueError, m); }
[[nodiscard]] inline PyObject* raise_type_error(std::string_view m) { return raise_error(PyExc_TypeError, m); }
// RecursionError "maximum grammar recursion depth exceeded".
[[nodiscard]] PyObject* raise_recursion_error();
// For failures the interpreter reports itself (an allocation of a result list or instance): keeps the pending
// exception, or sets SystemError "attempted to fetch exception but none was set" when there is none.
[[nodiscard]] PyObject* pending_error();
// TypeError "'{}' object cannot be converted to '{}'": the `__qualname__` of `obj`'s type (or
// "<failed to extract type name>" when it cannot be read as a str) and `expected` (a class name for a receiver,
// "PyString", "PyList" or "PyBool" for an argument conversion).
[[nodiscard]] PyObject* downcast_type_error(PyObject* obj, std::string_view expected);
// The `__qualname__` of `obj`'s type as a new str, or "<failed to extract type name>"; never fails on
// ordinary input (nullptr only on memory exhaustion).
[[nodiscard]] PyRef type_qualname_or_placeholder(PyObject* obj);

// A str whose size the input decides (a token, a matched slice): a new reference. Valid UTF-8 can fail only
// for want of memory, which a caller's input can cause: then it throws std::bad_alloc, which the method frame
// turns into MemoryError once everything the body made has been released by its holders.
[[nodiscard]] PyObject* new_str_or_throw(std::string_view utf8);
// The same for `length` code points stored as units of `kind` bytes (a slice of a str's own representation):
// a canonical str, of the kind of its widest code point.
[[nodiscard]] PyObject* new_str_of_units_or_throw(const char* units, unsigned kind, std::size_t length);

// libstdc++ keeps a thread's exception state (and std::call_once's, which RE2 uses) in thread-local storage that
// glibc allocates with malloc on the thread's first throw, and glibc stops the process when that malloc fails.
// So every entry whose work may throw first makes sure the storage exists, at a point where a failure can still
// be reported as MemoryError without throwing. True once it exists on this thread; false with MemoryError set.
constinit inline thread_local bool g_exception_state_ready __attribute__((tls_model("initial-exec"))) = false;
[[nodiscard]] bool make_exception_state() noexcept;
[[nodiscard]] inline bool exception_state_ready() noexcept {
  return g_exception_state_ready || make_exception_state();
}

// Runs `body`, the work of an entry the interpreter calls, and turns std::bad_alloc into MemoryError. Memory
// that the input asks for and cannot be had (a huge argument, result or grammar) is ordinary input; the work
// holds what it made in owners that release it while the exception unwinds.
template <class Body>
[[nodiscard]] PyObject* memory_error_on_exhaustion(Body&& body) noexcept {
  if (!exception_state_ready()) [[unlikely]]
    return nullptr;
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

// Result objects whose creation cannot fail on ordinary input: a failure stops the process with a message.
[[nodiscard]] PyObject* new_str_or_die(std::string_view utf8);
[[nodiscard]] PyObject* new_count_or_die(unsigned long long n);
[[nodiscard]] PyObject* new_empty_list_or_die();

}  // namespace quillex::py
