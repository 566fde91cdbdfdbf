// The one owning handle for a PyObject reference. A plain `PyObject*` is always borrowed; ownership is
// acquired visibly at the call site: `PyRef::steal(PyList_New(n))` takes over a new reference,
// `PyRef::borrow(obj)` adds one, `release()` hands it off (for example to a return value or a stealing call).
// Every use runs under the interpreter lock.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace quillex::py {

class PyRef {
 public:
  PyRef() noexcept = default;
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  PyRef& operator=(PyRef&& o) noexcept {
    PyRef tmp(std::move(o));
    std::swap(p_, tmp.p_);
    return *this;
  }
  ~PyRef() { Py_XDECREF(p_); }

  // Takes over a new reference (may be null: a failed API call).
  [[nodiscard]] static PyRef steal(PyObject* p) noexcept { return PyRef(p); }
  // Adds a reference to a borrowed object.
  [[nodiscard]] static PyRef borrow(PyObject* p) noexcept {
    Py_XINCREF(p);
    return PyRef(p);
  }

  PyObject* get() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Hands the reference to the caller.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }

 private:
  explicit PyRef(PyObject* p) noexcept : p_(p) {}
  PyObject* p_ = nullptr;
};

}  // namespace quillex::py
