#include "py/errors.h"

#include <cxxabi.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "elements/element.h"

namespace quillex::py {

PyObject* raise_error(PyObject* type, std::string_view message) {
  PyRef text = PyRef::steal(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (!text) return nullptr;  // the decoding error stands
  PyErr_SetObject(type, text.get());
  return nullptr;
}

PyObject* raise_recursion_error() {
  return raise_error(PyExc_RecursionError, "maximum grammar recursion depth exceeded");
}

PyObject* pending_error() {
  if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
  return nullptr;
}

PyRef type_qualname_or_placeholder(PyObject* obj) {
  PyRef name = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__"));
  if (name && PyUnicode_Check(name.get())) return name;
  PyErr_Clear();
  return PyRef::steal(PyUnicode_FromString("<failed to extract type name>"));
}

PyObject* downcast_type_error(PyObject* obj, std::string_view expected) {
  PyRef name = type_qualname_or_placeholder(obj);
  if (!name) return nullptr;
  std::string tail = "' object cannot be converted to '";
  tail.append(expected);
  tail.push_back('\'');
  PyRef message = PyRef::steal(PyUnicode_FromFormat("'%U%s", name.get(), tail.c_str()));
  if (!message) return nullptr;
  PyErr_SetObject(PyExc_TypeError, message.get());
  return nullptr;
}

bool make_exception_state() noexcept {
  // glibc takes the storage (the library's thread-local block, and the thread's table of such blocks when it
  // must grow: a few hundred bytes) with malloc. A block freed just before leaves that much room in this
  // thread's heap, so the call below finds it; without the block there is no room, and nothing was made.
  constexpr std::size_t ROOM = 16 * 1024;
  void* room = std::malloc(ROOM);
  if (room == nullptr) {
    (void)PyErr_NoMemory();
    return false;
  }
  std::free(room);
  abi::__cxa_eh_globals* state = abi::__cxa_get_globals();
  // The declaration says the call has no effects; it does have one, the allocation, which must not be elided.
  asm volatile("" : : "r"(state) : "memory");
  g_exception_state_ready = true;
  return true;
}

namespace {

bool is_ascii(std::string_view t) noexcept {
  const char* p = t.data();
  std::size_t n = t.size();
  std::uint64_t high = 0;
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    high |= w;
  }
  for (; n > 0; ++p, --n) high |= static_cast<unsigned char>(*p);
  return (high & 0x8080808080808080ull) == 0;
}

// A str just made, or the failure to make it: MemoryError becomes std::bad_alloc; anything else is a fault.
PyObject* made_str_or_throw(PyObject* s) {
  if (s != nullptr) [[likely]]
    return s;
  if (!PyErr_ExceptionMatches(PyExc_MemoryError)) {
    PyErr_Print();
    fatal("could not create a result str");
  }
  PyErr_Clear();
  throw std::bad_alloc();
}

}  // namespace

PyObject* new_str_or_throw(std::string_view utf8) {
  // An ASCII text is its own str data: copied into a new ASCII str, without the UTF-8 decoder. One character
  // or none goes to the interpreter, which hands out its shared strs for them.
  if (utf8.size() > 1 && is_ascii(utf8)) {
    PyObject* s = PyUnicode_New(static_cast<Py_ssize_t>(utf8.size()), 127);
    if (s != nullptr) std::memcpy(PyUnicode_DATA(s), utf8.data(), utf8.size());
    return made_str_or_throw(s);
  }
  return made_str_or_throw(PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size())));
}

PyObject* new_str_of_units_or_throw(const char* units, unsigned kind, std::size_t length) {
  return made_str_or_throw(PyUnicode_FromKindAndData(static_cast<int>(kind), units, static_cast<Py_ssize_t>(length)));
}

PyObject* new_str_or_die(std::string_view utf8) {
  PyObject* s = PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size()));
  if (s == nullptr) {
    PyErr_Print();
    fatal("could not create a result str");
  }
  return s;
}

PyObject* new_count_or_die(unsigned long long n) {
  PyObject* c = PyLong_FromUnsignedLongLong(n);
  if (c == nullptr) {
    PyErr_Print();
    fatal("could not create a count");
  }
  return c;
}

PyObject* new_empty_list_or_die() {
  PyObject* l = PyList_New(0);
  if (l == nullptr) {
    PyErr_Print();
    fatal("could not create an empty result list");
  }
  return l;
}

}  // namespace quillex::py
