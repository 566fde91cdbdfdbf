// The 26 Python classes: their identities, instance layouts, type objects and the receiver check.
//
// Every instance holds one reference to the element of its class's own kind. `Keyword` and `Literal` objects
// also own a str equal to their constructor argument (their fast paths return it as the token), and a
// `Literal` its own failure text. Instances are immutable once made; a `Forward`'s inner element changes
// inside the shared element, never in the object.
//
// Type objects are heap types built once (registration builds all 26 at import) and kept for the life of the
// process. Flags are `Py_TPFLAGS_DEFAULT` only: the classes cannot be subclassed, instances carry no dict, no
// weak-reference list and no garbage-collector tracking (an element never refers back to a Python object, so
// objects cannot form cycles).
#pragma once

#include <array>
#include <cassert>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "elements/element.h"
#include "py/errors.h"
#include "py/pyref.h"

namespace quillex {

// In registration order: the order of the module's `__all__`.
enum class ClassId : std::uint8_t {
  Literal,
  Keyword,
  Word,
  Regex,
  And,
  MatchFirst,
  ZeroOrMore,
  OneOrMore,
  Optional,
  Group,
  Suppress,
  Forward,
  Combine,
  Exactly,
  CaselessLiteral,
  CaselessKeyword,
  Char,
  StringStart,
  StringEnd,
  LineStart,
  LineEnd,
  RestOfLine,
  QuotedString,
  Empty,
  NoMatch,
  SkipTo,
};
inline constexpr std::size_t CLASS_COUNT = 26;

constexpr std::size_t class_index(ClassId c) noexcept { return static_cast<std::size_t>(c); }

// Python names (`__name__` and `__qualname__`), by ClassId.
inline constexpr std::array<std::string_view, CLASS_COUNT> CLASS_NAMES = {
    "Literal",     "Keyword",         "Word",            "Regex",     "And",       "MatchFirst",   "ZeroOrMore",
    "OneOrMore",   "Optional",        "Group",           "Suppress",  "Forward",   "Combine",      "Exactly",
    "CaselessLiteral", "CaselessKeyword", "Char",        "StringStart", "StringEnd", "LineStart",  "LineEnd",
    "rest_of_line", "QuotedString",   "Empty",           "NoMatch",   "SkipTo"};
constexpr std::string_view class_name(ClassId c) noexcept { return CLASS_NAMES[class_index(c)]; }

// The element kind behind each class.
inline constexpr std::array<Kind, CLASS_COUNT> CLASS_ELEMENT_KINDS = {
    Kind::Literal,         Kind::Keyword,         Kind::Word,        Kind::Regex,       Kind::And,
    Kind::MatchFirst,      Kind::ZeroOrMore,      Kind::OneOrMore,   Kind::Optional,    Kind::Group,
    Kind::Suppress,        Kind::Forward,         Kind::Combine,     Kind::Exactly,     Kind::CaselessLiteral,
    Kind::CaselessKeyword, Kind::Char,            Kind::StringStart, Kind::StringEnd,   Kind::LineStart,
    Kind::LineEnd,         Kind::RestOfLine,      Kind::QuotedString, Kind::Empty,      Kind::NoMatch,
    Kind::SkipTo};
constexpr Kind class_element_kind(ClassId c) noexcept { return CLASS_ELEMENT_KINDS[class_index(c)]; }

// The methods of every class, in the order of their records; `Set` exists on `Forward` only.
enum class Method : std::uint8_t {
  ParseString,
  Matches,
  SearchString,
  SearchStringCount,
  ParseBatch,
  ParseBatchCount,
  TransformString,
  Set,
};
inline constexpr std::size_t STANDARD_METHOD_COUNT = 7;
inline constexpr std::array<std::string_view, 8> METHOD_NAMES = {
    "parse_string", "matches", "search_string", "search_string_count",
    "parse_batch",  "parse_batch_count", "transform_string", "set"};
constexpr std::string_view method_name(Method m) noexcept { return METHOD_NAMES[static_cast<std::size_t>(m)]; }

// ---------------------------------------------------------------------------------------------------------------
// Instance layouts. The memory comes zeroed from tp_alloc; the C++ fields are constructed in place by
// `new_*_object` and destroyed by the class's tp_dealloc.

// Shared borrows of an object in progress; 0 at rest. -1 would mark an exclusive borrow, which no operation of
// the module takes, so a shared borrow always succeeds.
using BorrowFlag = std::atomic<Py_ssize_t>;

struct ElementObject {
  PyObject_HEAD
  ElementRef element;
  BorrowFlag borrow_flag;
};

struct KeywordObject {
  PyObject_HEAD
  ElementRef element;
  py::PyRef cached_text;  // str equal to the constructor argument; returned as the token
  BorrowFlag borrow_flag;
};

struct LiteralObject {
  PyObject_HEAD
  std::string message;  // "Expected '{}'" with the literal: the ValueError text of parse_string
  ElementRef element;
  py::PyRef cached_text;  // str equal to the constructor argument; returned as the token
  BorrowFlag borrow_flag;
};

template <ClassId C>
using ObjectLayout = std::conditional_t<C == ClassId::Literal, LiteralObject,
                                        std::conditional_t<C == ClassId::Keyword, KeywordObject, ElementObject>>;

// The fields of an object already known to be of class C (a method body's `self`, a checked operand).
template <ClassId C>
ObjectLayout<C>& object_layout(PyObject* checked) noexcept {
  return *reinterpret_cast<ObjectLayout<C>*>(checked);
}

// ---------------------------------------------------------------------------------------------------------------
// Type objects

// Filled by registration at import, then read-only. Indexed by ClassId.
inline PyTypeObject* g_class_types[CLASS_COUNT] = {};

// Builds class C's type object, or returns it when built. nullptr with the building error set. Registration
// uses it (and wraps the error); every later caller finds the type built.
[[nodiscard]] PyTypeObject* try_class_type_object(ClassId c);
// The type object, built on first need; a failure to build it prints the error and stops the process with
// "failed to create type object for {}".
[[nodiscard]] PyTypeObject* class_type_object_slow(ClassId c);

[[nodiscard]] inline PyTypeObject* class_type_object(ClassId c) {
  PyTypeObject* t = g_class_types[class_index(c)];
  if (t != nullptr) [[likely]]
    return t;
  return class_type_object_slow(c);
}
template <ClassId C>
[[nodiscard]] inline PyTypeObject* class_type_object() {
  return class_type_object(C);
}

// Whether `obj` is an instance of class c (its type or a subtype).
[[nodiscard]] inline bool is_class_instance(ClassId c, PyObject* obj) {
  PyTypeObject* t = class_type_object(c);
  return Py_IS_TYPE(obj, t) || PyType_IsSubtype(Py_TYPE(obj), t);
}

// ---------------------------------------------------------------------------------------------------------------
// Receiver check

// Holder of one checked object: a new reference to it and one shared borrow, both released when the holder
// is reset or destroyed (so on every path out of the call). Not copyable or movable: it lives in one frame.
class ClassRef {
 public:
  ClassRef() noexcept = default;
  ClassRef(const ClassRef&) = delete;
  ClassRef& operator=(const ClassRef&) = delete;
  ~ClassRef() { reset(); }

  PyObject* object() const noexcept { return object_; }
  // The object's element; valid while the holder holds the object.
  const Element& element() const noexcept { return *element_->get(); }
  const ElementRef& element_ref() const noexcept { return *element_; }

  void reset() noexcept {
    if (object_ != nullptr) {
      release_shared_borrow(*borrow_flag_);
      Py_DECREF(std::exchange(object_, nullptr));
    }
  }

  // Takes the borrow and the reference on an object already checked to have this layout.
  template <class Layout>
  void hold(PyObject* obj) noexcept {
    Layout& o = *reinterpret_cast<Layout*>(obj);
    take_shared_borrow(o.borrow_flag);
    Py_INCREF(obj);
    reset();
    object_ = obj;
    element_ = &o.element;
    borrow_flag_ = &o.borrow_flag;
  }

 private:
  // Every change of a borrow flag happens under the interpreter lock, which already orders them; the flag is
  // atomic so that no reader can see a torn value, and it is changed by an atomic load and store rather than
  // a locked read-modify-write, which would cost about a third of a short method call.
  static void take_shared_borrow(BorrowFlag& flag) noexcept {
    Py_ssize_t seen = flag.load(std::memory_order_relaxed);
    if (seen < 0) [[unlikely]]
      fatal("shared borrow of an exclusively borrowed object");
    flag.store(seen + 1, std::memory_order_relaxed);
  }
  static void release_shared_borrow(BorrowFlag& flag) noexcept {
    flag.store(flag.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
  }

  PyObject* object_ = nullptr;
  const ElementRef* element_ = nullptr;
  BorrowFlag* borrow_flag_ = nullptr;
};

// The receiver check of every method and operator of class C: `obj` must be an instance of C; then `holder`
// takes a new reference and a shared borrow (releasing what it held before). Otherwise false with the
// TypeError "'{}' object cannot be converted to '{}'" naming C set; an operator clears it and returns
// NotImplemented. The interpreter's method descriptors already refuse a receiver of another class, so the
// error is reached by direct C-level calls only.
template <ClassId C>
[[nodiscard]] inline bool borrow_class_ref(PyObject* obj, ClassRef& holder) {
  if (!is_class_instance(C, obj)) {
    (void)py::downcast_type_error(obj, class_name(C));
    return false;
  }
  holder.hold<ObjectLayout<C>>(obj);
  return true;
}
// The same with the class known at run time (operators and element extraction).
[[nodiscard]] bool borrow_class_ref(ClassId c, PyObject* obj, ClassRef& holder);

// The class of an instance of one of the 26 classes, tested in ClassId order; false for anything else.
[[nodiscard]] bool class_of_object(PyObject* obj, ClassId& out);

// ---------------------------------------------------------------------------------------------------------------
// New instances. Each takes over `element` (and the other fields); on failure everything handed over is
// released and nullptr is returned with the interpreter's pending exception (SystemError "attempted to fetch
// exception but none was set" when there is none). `subtype` is the type tp_new was called with.

[[nodiscard]] PyObject* new_object_with_element(PyTypeObject* subtype, ElementRef element);
[[nodiscard]] PyObject* new_keyword_object(PyTypeObject* subtype, ElementRef element, py::PyRef cached_text);
[[nodiscard]] PyObject* new_literal_object(PyTypeObject* subtype, ElementRef element, py::PyRef cached_text,
                                           std::string message);

// An `ElementObject` of class C (every class but Keyword and Literal).
template <ClassId C>
[[nodiscard]] PyObject* new_element_object(PyTypeObject* subtype, ElementRef element) {
  static_assert(std::is_same_v<ObjectLayout<C>, ElementObject>, "Keyword and Literal have their own layouts");
  assert(element && element->kind() == class_element_kind(C));
  return new_object_with_element(subtype, std::move(element));
}
template <ClassId C>
[[nodiscard]] PyObject* new_element_object(ElementRef element) {
  return new_element_object<C>(class_type_object<C>(), std::move(element));
}

// Wrappers of the elements built by `+` (an AndElement) and `|` / one_of (a MatchFirstElement).
[[nodiscard]] PyObject* new_and_object(ElementRef element);
[[nodiscard]] PyObject* new_match_first_object(ElementRef element);

// TypeError "No constructor defined for {}" with the type's `__name__`: And's tp_new.
[[nodiscard]] PyObject* raise_no_constructor(PyTypeObject* type);

}  // namespace quillex
