// The module entry. Single-phase initialisation, once per process: the first interpreter to import the module
// is recorded and the built module is kept for the rest of the process; a later call from that interpreter
// (an import after removal from sys.modules) gets the same module object back; any other interpreter is
// refused, since the type objects and the module are process-wide.
#include <atomic>
#include <cstdint>
#include <string>

#include "classes.h"
#include "docs.h"
#include "functions.h"
#include "py/errors.h"

namespace quillex {

namespace {

constexpr int INTERPRETER_API_VERSION = 1013;
// From pyproject.toml, through the build.
constexpr const char* VERSION = QUILLEX_VERSION;

// The interpreter that first ran the entry; -1 until then. Set once by compare-and-swap.
std::atomic<std::int64_t> g_initialising_interpreter{-1};
// The finished module, holding one reference for the rest of the process. Filled at most once, under the
// interpreter lock, only after registration succeeded.
PyObject* g_module = nullptr;

PyModuleDef MODULE_DEFINITION = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "quillex",
    .m_doc = MODULE_DOC,
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

py::PyRef new_name_or_die(std::string_view text) { return py::PyRef::steal(py::new_str_or_die(text)); }

// Appends `name` to the module's `__all__` (made on first use), then sets the attribute.
bool module_add(PyObject* module, PyObject* name, PyObject* value) {
  py::PyRef all = py::PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = py::PyRef::steal(py::new_empty_list_or_die());
    if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  } else if (!PyList_Check(all.get())) {
    (void)py::downcast_type_error(all.get(), "PyList");
    return false;
  }
  if (PyList_Append(all.get(), name) < 0) {
    PyErr_Print();
    fatal("could not extend the module's __all__");
  }
  return PyObject_SetAttr(module, name, value) == 0;
}

// RuntimeError "An error occurred while initializing class {}", caused by the building error.
bool class_initialisation_error(ClassId c) {
  (void)py::pending_error();
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr) PyException_SetTraceback(value, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  py::PyRef cause = py::PyRef::steal(value);
  std::string text = "An error occurred while initializing class ";
  text.append(class_name(c));
  py::PyRef message = new_name_or_die(text);
  py::PyRef error = py::PyRef::steal(PyObject_CallOneArg(PyExc_RuntimeError, message.get()));
  if (!error) return false;
  PyException_SetCause(error.get(), cause.release());
  PyErr_SetObject(PyExc_RuntimeError, error.get());
  return false;
}

bool add_class(PyObject* module, ClassId c) {
  PyTypeObject* type = try_class_type_object(c);
  if (type == nullptr) return class_initialisation_error(c);
  py::PyRef name = new_name_or_die(class_name(c));
  return module_add(module, name.get(), reinterpret_cast<PyObject*>(type));
}

// The function is bound to the module (its __self__) and reports the module's name as its __module__.
bool add_function(PyObject* module, PyMethodDef* record) {
  py::PyRef module_name = py::PyRef::steal(PyModule_GetNameObject(module));
  if (!module_name) return false;
  py::PyRef function = py::PyRef::steal(PyCMethod_New(record, module, module_name.get(), nullptr));
  if (!function) return false;
  module_name = py::PyRef();
  py::PyRef name = py::PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
  if (!name) return false;
  return module_add(module, name.get(), function.get());
}

bool add_version_attribute(PyObject* module) {
  py::PyRef name = new_name_or_die("__version__");
  py::PyRef version = new_name_or_die(VERSION);
  return module_add(module, name.get(), version.get());
}

// The 26 classes in ClassId order, the 8 functions, then __version__; each name is appended to __all__.
// The first failure ends registration.
bool register_module_members(PyObject* module) {
  for (std::size_t i = 0; i < CLASS_COUNT; ++i) {
    if (!add_class(module, static_cast<ClassId>(i))) return false;
  }
  for (PyMethodDef& record : MODULE_FUNCTIONS) {
    if (!add_function(module, &record)) return false;
  }
  return add_version_attribute(module);
}

PyObject* initialise_module() noexcept {
  std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) return py::pending_error();
  std::int64_t recorded = -1;
  if (!g_initialising_interpreter.compare_exchange_strong(recorded, id) && recorded != id) {
    PyErr_SetString(PyExc_ImportError, "quillex does not support subinterpreters");
    return nullptr;
  }
  if (g_module != nullptr) return Py_NewRef(g_module);
  // The importing thread's exception state, made while memory is to spare (other threads make theirs on their
  // first call).
  if (!py::exception_state_ready()) return nullptr;
  py::PyRef module = py::PyRef::steal(PyModule_Create2(&MODULE_DEFINITION, INTERPRETER_API_VERSION));
  if (!module) return py::pending_error();
  if (!register_module_members(module.get())) return py::pending_error();  // the module is released
  g_module = module.release();
  return Py_NewRef(g_module);
}

}  // namespace

}  // namespace quillex

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_quillex() noexcept {
  return quillex::initialise_module();
}
