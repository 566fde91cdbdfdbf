#include "classes.h"

#include <memory>
#include <string>
#include <utility>

#include "constructors.h"
#include "docs.h"
#include "engine/frame.h"
#include "operators.h"

namespace quillex {

namespace {

// "builtins." + the class name: the classes name no module, so the interpreter reports `__module__` as
// "builtins" and `__name__` / `__qualname__` as the class name.
constexpr std::array<const char*, CLASS_COUNT> TYPE_NAMES = {
    "builtins.Literal",         "builtins.Keyword",      "builtins.Word",         "builtins.Regex",
    "builtins.And",             "builtins.MatchFirst",   "builtins.ZeroOrMore",   "builtins.OneOrMore",
    "builtins.Optional",        "builtins.Group",        "builtins.Suppress",     "builtins.Forward",
    "builtins.Combine",         "builtins.Exactly",      "builtins.CaselessLiteral", "builtins.CaselessKeyword",
    "builtins.Char",            "builtins.StringStart",  "builtins.StringEnd",    "builtins.LineStart",
    "builtins.LineEnd",         "builtins.rest_of_line", "builtins.QuotedString", "builtins.Empty",
    "builtins.NoMatch",         "builtins.SkipTo"};

// And has no constructor: `+` is the only way to make one.
PyObject* and_new(PyTypeObject* type, PyObject*, PyObject*) { return raise_no_constructor(type); }

using Constructor = PyObject* (*)(PyTypeObject* subtype, PyObject* args, PyObject* kwargs);

constexpr Constructor constructor_of(ClassId c) noexcept {
  switch (c) {
    case ClassId::Literal: return literal_new;
    case ClassId::Keyword: return keyword_new;
    case ClassId::Word: return word_new;
    case ClassId::Regex: return regex_new;
    case ClassId::And: return and_new;
    case ClassId::MatchFirst: return match_first_new;
    case ClassId::ZeroOrMore: return zero_or_more_new;
    case ClassId::OneOrMore: return one_or_more_new;
    case ClassId::Optional: return optional_new;
    case ClassId::Group: return group_new;
    case ClassId::Suppress: return suppress_new;
    case ClassId::Forward: return forward_new;
    case ClassId::Combine: return combine_new;
    case ClassId::Exactly: return exactly_new;
    case ClassId::CaselessLiteral: return caseless_literal_new;
    case ClassId::CaselessKeyword: return caseless_keyword_new;
    case ClassId::Char: return char_new;
    case ClassId::StringStart: return string_start_new;
    case ClassId::StringEnd: return string_end_new;
    case ClassId::LineStart: return line_start_new;
    case ClassId::LineEnd: return line_end_new;
    case ClassId::RestOfLine: return rest_of_line_new;
    case ClassId::QuotedString: return quoted_string_new;
    case ClassId::Empty: return empty_new;
    case ClassId::NoMatch: return no_match_new;
    case ClassId::SkipTo: return skip_to_new;
  }
  return and_new;
}

// ---------------------------------------------------------------------------------------------------------------
// Instances

void destroy_fields(ElementObject& o) noexcept { std::destroy_at(&o.element); }
void destroy_fields(KeywordObject& o) noexcept {
  std::destroy_at(&o.element);
  std::destroy_at(&o.cached_text);
}
void destroy_fields(LiteralObject& o) noexcept {
  std::destroy_at(&o.element);
  std::destroy_at(&o.cached_text);
  std::destroy_at(&o.message);
}

// An instance of a heap type holds a reference to its type, released after the memory.
template <class Layout>
void dealloc_object(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  destroy_fields(*reinterpret_cast<Layout*>(self));
  type->tp_free(self);
  Py_DECREF(type);
}

// Zeroed memory for one instance of `subtype`, or nullptr with the interpreter's error.
template <class Layout>
Layout* allocate_instance(PyTypeObject* subtype) {
  allocfunc alloc = subtype->tp_alloc != nullptr ? subtype->tp_alloc : PyType_GenericAlloc;
  return reinterpret_cast<Layout*>(alloc(subtype, 0));
}

template <class Layout>
void construct_element_and_flag(Layout& o, ElementRef&& element) noexcept {
  std::construct_at(&o.element, std::move(element));
  std::construct_at(&o.borrow_flag, 0);
}

// ---------------------------------------------------------------------------------------------------------------
// Type objects

PyObject* binary_slot_result(PyObject* r) { return r != nullptr || PyErr_Occurred() ? r : py::pending_error(); }

template <ClassId C>
PyObject* add_slot(PyObject* self, PyObject* other) noexcept {
  return py::memory_error_on_exhaustion([&] { return binary_slot_result(add_operator(C, self, other)); });
}
template <ClassId C>
PyObject* or_slot(PyObject* self, PyObject* other) noexcept {
  return py::memory_error_on_exhaustion([&] { return binary_slot_result(or_operator(C, self, other)); });
}
PyObject* ilshift_slot(PyObject* self, PyObject* other) noexcept {
  return py::memory_error_on_exhaustion([&] { return binary_slot_result(forward_inplace_lshift(self, other)); });
}

// The tp_new entry of class C: its constructor, noexcept as every function the interpreter calls
// (py::FastcallEntry says why).
template <ClassId C>
PyObject* constructor_entry(PyTypeObject* subtype, PyObject* args, PyObject* kwargs) noexcept {
  return py::memory_error_on_exhaustion([&] { return constructor_of(C)(subtype, args, kwargs); });
}

// Only a noexcept function can fill a slot (py::FastcallEntry says why).
template <class R, class... Args>
void* slot_function(R (*f)(Args...) noexcept) noexcept {
  return reinterpret_cast<void*>(f);
}

// Class C's slot table and spec; the interpreter copies both (and the documentation text), and keeps the
// static method records.
template <ClassId C>
PyTypeObject* create_class_type_object() {
  using Layout = ObjectLayout<C>;
  PyType_Slot slots[9];
  int n = 0;
  slots[n++] = {.slot = Py_tp_base, .pfunc = &PyBaseObject_Type};
  slots[n++] = {.slot = Py_tp_dealloc, .pfunc = slot_function(&dealloc_object<Layout>)};
  // And has no documentation text, so no slot: its __doc__ is None and it has no text signature.
  if (const char* doc = class_doc(C)) slots[n++] = {.slot = Py_tp_doc, .pfunc = const_cast<char*>(doc)};
  slots[n++] = {.slot = Py_tp_methods, .pfunc = engine::class_method_records(C)};
  slots[n++] = {.slot = Py_tp_new, .pfunc = slot_function(&constructor_entry<C>)};
  slots[n++] = {.slot = Py_nb_add, .pfunc = slot_function(&add_slot<C>)};
  if constexpr (C != ClassId::And) slots[n++] = {.slot = Py_nb_or, .pfunc = slot_function(&or_slot<C>)};
  if constexpr (C == ClassId::Forward) {
    slots[n++] = {.slot = Py_nb_inplace_lshift, .pfunc = slot_function(&ilshift_slot)};
  }
  slots[n] = {.slot = 0, .pfunc = nullptr};
  PyType_Spec spec = {.name = TYPE_NAMES[class_index(C)],
                      .basicsize = static_cast<int>(sizeof(Layout)),
                      .itemsize = 0,
                      .flags = Py_TPFLAGS_DEFAULT,
                      .slots = slots};
  // From 3.10 on the interpreter keeps the whole text (signature included) in tp_doc; the supported
  // interpreter is 3.11, so nothing needs restoring.
  static_assert(PY_VERSION_HEX >= 0x030A0000, "tp_doc would lose its text signature");
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
}

using TypeBuilder = PyTypeObject* (*)();
template <std::size_t... I>
constexpr std::array<TypeBuilder, CLASS_COUNT> all_type_builders(std::index_sequence<I...>) {
  return {&create_class_type_object<static_cast<ClassId>(I)>...};
}
constexpr std::array<TypeBuilder, CLASS_COUNT> TYPE_BUILDERS =
    all_type_builders(std::make_index_sequence<CLASS_COUNT>{});

}  // namespace

PyTypeObject* try_class_type_object(ClassId c) {
  PyTypeObject*& cell = g_class_types[class_index(c)];
  if (cell == nullptr) cell = TYPE_BUILDERS[class_index(c)]();
  return cell;
}

PyTypeObject* class_type_object_slow(ClassId c) {
  if (PyTypeObject* t = try_class_type_object(c)) return t;
  PyErr_Print();
  std::string what = "failed to create type object for ";
  what.append(class_name(c));
  fatal(what.c_str());
}

bool borrow_class_ref(ClassId c, PyObject* obj, ClassRef& holder) {
  if (!is_class_instance(c, obj)) {
    (void)py::downcast_type_error(obj, class_name(c));
    return false;
  }
  switch (c) {
    case ClassId::Literal: holder.hold<LiteralObject>(obj); break;
    case ClassId::Keyword: holder.hold<KeywordObject>(obj); break;
    default: holder.hold<ElementObject>(obj); break;
  }
  return true;
}

bool class_of_object(PyObject* obj, ClassId& out) {
  for (std::size_t i = 0; i < CLASS_COUNT; ++i) {
    ClassId c = static_cast<ClassId>(i);
    if (is_class_instance(c, obj)) {
      out = c;
      return true;
    }
  }
  return false;
}

PyObject* new_object_with_element(PyTypeObject* subtype, ElementRef element) {
  auto* o = allocate_instance<ElementObject>(subtype);
  if (o == nullptr) return py::pending_error();  // `element` is released on return
  construct_element_and_flag(*o, std::move(element));
  return reinterpret_cast<PyObject*>(o);
}

PyObject* new_keyword_object(PyTypeObject* subtype, ElementRef element, py::PyRef cached_text) {
  auto* o = allocate_instance<KeywordObject>(subtype);
  if (o == nullptr) return py::pending_error();
  construct_element_and_flag(*o, std::move(element));
  std::construct_at(&o->cached_text, std::move(cached_text));
  return reinterpret_cast<PyObject*>(o);
}

PyObject* new_literal_object(PyTypeObject* subtype, ElementRef element, py::PyRef cached_text,
                             std::string message) {
  auto* o = allocate_instance<LiteralObject>(subtype);
  if (o == nullptr) return py::pending_error();
  std::construct_at(&o->message, std::move(message));
  construct_element_and_flag(*o, std::move(element));
  std::construct_at(&o->cached_text, std::move(cached_text));
  return reinterpret_cast<PyObject*>(o);
}

PyObject* new_and_object(ElementRef element) {
  return new_object_with_element(class_type_object<ClassId::And>(), std::move(element));
}

PyObject* new_match_first_object(ElementRef element) {
  return new_object_with_element(class_type_object<ClassId::MatchFirst>(), std::move(element));
}

PyObject* raise_no_constructor(PyTypeObject* type) {
  py::PyRef name = py::PyRef::steal(PyType_GetName(type));
  if (!name) return nullptr;
  py::PyRef message = py::PyRef::steal(PyUnicode_FromFormat("No constructor defined for %U", name.get()));
  if (message) PyErr_SetObject(PyExc_TypeError, message.get());
  return nullptr;
}

}  // namespace quillex
