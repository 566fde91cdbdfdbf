#include "py/binder.h"

#include <initializer_list>
#include <string>

namespace quillex::py {

namespace {

bool fail_with_type_error(const std::string& message) {
  (void)raise_type_error(message);
  return false;
}

// "Class.function()" or, for a module function, "function()". Built on error paths only.
std::string call_display_name(const ArgumentDescriptor& d) {
  std::string name;
  if (!d.class_name.empty()) {
    name.append(d.class_name);
    name.push_back('.');
  }
  name.append(d.function_name);
  name.append("()");
  return name;
}

bool too_many_positional(const ArgumentDescriptor& d, Py_ssize_t given) {
  std::string m = call_display_name(d);
  m.append(" takes ");
  if (d.required_count == d.parameter_count) {
    m.append(std::to_string(d.parameter_count));
  } else {
    m.append("from ").append(std::to_string(d.required_count));
    m.append(" to ").append(std::to_string(d.parameter_count));
  }
  m.append(" positional arguments but ").append(std::to_string(given));
  m.append(given == 1 ? " was given" : " were given");
  return fail_with_type_error(m);
}

// The keyword as the call spelled it: inserted as the str object itself, so a name without UTF-8 form is
// reported too.
bool unexpected_keyword(const ArgumentDescriptor& d, PyObject* name) {
  std::string head = call_display_name(d) + " got an unexpected keyword argument '";
  PyRef message = PyRef::steal(PyUnicode_Check(name) ? PyUnicode_FromFormat("%s%U'", head.c_str(), name)
                                                     : PyUnicode_FromFormat("%s%S'", head.c_str(), name));
  if (message) PyErr_SetObject(PyExc_TypeError, message.get());
  return false;
}

bool multiple_values(const ArgumentDescriptor& d, std::size_t parameter) {
  std::string m = call_display_name(d) + " got multiple values for argument '";
  m.append(d.parameter_names[parameter]).push_back('\'');
  return fail_with_type_error(m);
}

bool missing_required(const ArgumentDescriptor& d, PyObject* const* slots) {
  std::size_t missing[MAX_PARAMETERS];
  std::size_t n = 0;
  for (std::size_t i = 0; i < d.required_count; ++i) {
    if (slots[i] == nullptr) missing[n++] = i;
  }
  std::string m = call_display_name(d);
  m.append(" missing ").append(std::to_string(n));
  m.append(n == 1 ? " required positional argument: " : " required positional arguments: ");
  for (std::size_t k = 0; k < n; ++k) {
    if (k > 0) m.append(k + 1 == n ? " and " : ", ");
    m.push_back('\'');
    m.append(d.parameter_names[missing[k]]).push_back('\'');
  }
  return fail_with_type_error(m);
}

// Puts one keyword argument into its slot. Names are compared as UTF-8 bytes with the descriptor's names; a
// name without UTF-8 form matches none.
bool bind_keyword(const ArgumentDescriptor& d, PyObject* name, PyObject* value, PyObject** slots) {
  Py_ssize_t length = 0;
  const char* bytes = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &length) : nullptr;
  if (bytes == nullptr) {
    PyErr_Clear();
    return unexpected_keyword(d, name);
  }
  std::string_view key(bytes, static_cast<std::size_t>(length));
  for (std::size_t i = 0; i < d.parameter_count; ++i) {
    if (d.parameter_names[i] != key) continue;
    if (slots[i] != nullptr) return multiple_values(d, i);
    slots[i] = value;
    return true;
  }
  return unexpected_keyword(d, name);
}

bool bind_positional(const ArgumentDescriptor& d, PyObject* const* args, Py_ssize_t nargs, PyObject** slots) {
  if (nargs > d.parameter_count) return too_many_positional(d, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
  return true;
}

bool check_required(const ArgumentDescriptor& d, Py_ssize_t nargs, PyObject* const* slots) {
  if (nargs >= d.required_count) return true;
  for (std::size_t i = 0; i < d.required_count; ++i) {
    if (slots[i] == nullptr) return missing_required(d, slots);
  }
  return true;
}

}  // namespace

bool bind_fastcall_arguments(const ArgumentDescriptor& d, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames, PyObject** slots) {
  if (!bind_positional(d, args, nargs, slots)) return false;
  if (kwnames != nullptr) {
    Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t j = 0; j < nkw; ++j) {
      if (!bind_keyword(d, PyTuple_GET_ITEM(kwnames, j), args[nargs + j], slots)) return false;
    }
  }
  return check_required(d, nargs, slots);
}

bool bind_tuple_dict_arguments(const ArgumentDescriptor& d, PyObject* args, PyObject* kwargs, PyObject** slots) {
  Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  if (!bind_positional(d, reinterpret_cast<PyTupleObject*>(args)->ob_item, nargs, slots)) return false;
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* name = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &pos, &name, &value)) {
      if (!bind_keyword(d, name, value, slots)) return false;
    }
  }
  return check_required(d, nargs, slots);
}

// ---------------------------------------------------------------------------------------------------------------
// Conversions

namespace {

bool str_attribute_equals(PyObject* obj, const char* attribute, std::initializer_list<const char*> accepted) {
  PyRef value = PyRef::steal(PyObject_GetAttrString(obj, attribute));
  if (!value) {
    PyErr_Clear();
    return false;
  }
  if (!PyUnicode_Check(value.get())) return false;
  for (const char* a : accepted) {
    if (PyUnicode_CompareWithASCIIString(value.get(), a) == 0) return true;
  }
  return false;
}

// numpy's bool scalars are accepted by name, through their own truth conversion, without importing numpy.
bool is_numpy_bool_type(PyTypeObject* type) {
  PyObject* t = reinterpret_cast<PyObject*>(type);
  return str_attribute_equals(t, "__module__", {"numpy"}) && str_attribute_equals(t, "__name__", {"bool_", "bool"});
}

}  // namespace

bool extract_bool_argument(PyObject* obj, bool& out) {
  if (obj == Py_True || obj == Py_False) {
    out = obj == Py_True;
    return true;
  }
  PyTypeObject* type = Py_TYPE(obj);
  if (!is_numpy_bool_type(type)) {
    (void)downcast_type_error(obj, "PyBool");
    return false;
  }
  inquiry truth = type->tp_as_number != nullptr ? type->tp_as_number->nb_bool : nullptr;
  if (truth == nullptr) {
    PyRef type_text = PyRef::steal(PyObject_Str(reinterpret_cast<PyObject*>(type)));
    if (!type_text) return false;
    PyRef message = PyRef::steal(
        PyUnicode_FromFormat("object of type '%U' does not define a '__bool__' conversion", type_text.get()));
    if (message) PyErr_SetObject(PyExc_TypeError, message.get());
    return false;
  }
  int r = truth(obj);
  if (r < 0) return false;
  out = r != 0;
  return true;
}

bool extract_count_argument(PyObject* obj, std::uint64_t& out) {
  PyRef index;
  if (!PyLong_Check(obj)) {
    index = PyRef::steal(PyNumber_Index(obj));
    if (!index) return false;
    obj = index.get();
  }
  unsigned long long v = PyLong_AsUnsignedLongLong(obj);
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool wrap_argument_error(std::string_view parameter) {
  if (!PyErr_Occurred()) {
    (void)pending_error();
    return false;
  }
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef owned_type = PyRef::steal(type);
  PyRef original = PyRef::steal(value);
  PyRef owned_traceback = PyRef::steal(traceback);
  if (type != PyExc_TypeError) {  // a subclass: raised unchanged
    PyErr_Restore(owned_type.release(), original.release(), owned_traceback.release());
    return false;
  }
  std::string head = "argument '";
  head.append(parameter).append("': ");
  PyRef message = PyRef::steal(PyUnicode_FromFormat("%s%S", head.c_str(), original.get()));
  if (!message) return false;
  PyRef error = PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
  if (!error) return false;
  if (PyObject* cause = PyException_GetCause(original.get())) PyException_SetCause(error.get(), cause);  // steals
  PyErr_SetObject(PyExc_TypeError, error.get());
  return false;
}

bool batch_item_type_error(PyObject* item, Py_ssize_t index) {
  PyRef name = type_qualname_or_placeholder(item);
  if (!name) return false;
  PyRef message = PyRef::steal(PyUnicode_FromFormat(
      "argument 'inputs': item %zd: '%U' object cannot be converted to 'PyString'", index, name.get()));
  if (message) PyErr_SetObject(PyExc_TypeError, message.get());
  return false;
}

bool BoundArguments::optional_str(std::size_t i, std::optional<std::string_view>& out) const {
  if (slots_[i] == nullptr || slots_[i] == Py_None) {
    out.reset();
    return true;
  }
  std::string_view view;
  if (!str(i, view)) return false;
  out = view;
  return true;
}

bool BoundArguments::boolean(std::size_t i, bool fallback, bool& out) const {
  if (slots_[i] == nullptr) {
    out = fallback;
    return true;
  }
  return extract_bool_argument(slots_[i], out) || wrap(i);
}

bool BoundArguments::count(std::size_t i, std::uint64_t& out) const {
  return extract_count_argument(slots_[i], out) || wrap(i);
}

}  // namespace quillex::py
