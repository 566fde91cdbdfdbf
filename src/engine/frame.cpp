#include "engine/frame.h"

#include <array>
#include <new>
#include <utility>

#include "descriptors.h"
#include "docs.h"
#include "elements/match_session.h"
#include "engine/bodies.h"
#include "operators.h"
#include "py/binder.h"
#include "py/collector.h"

namespace quillex::engine {

namespace {

// The class-method tables, by ClassId.
constexpr std::array<const MethodBodies*, CLASS_COUNT> CLASS_BODIES = {
    &LITERAL_BODIES,      &KEYWORD_BODIES,          &WORD_BODIES,             &REGEX_BODIES,
    &AND_BODIES,          &MATCH_FIRST_BODIES,      &ZERO_OR_MORE_BODIES,     &ONE_OR_MORE_BODIES,
    &OPTIONAL_BODIES,     &GROUP_BODIES,            &SUPPRESS_BODIES,         &FORWARD_BODIES,
    &COMBINE_BODIES,      &EXACTLY_BODIES,          &CASELESS_LITERAL_BODIES, &CASELESS_KEYWORD_BODIES,
    &CHAR_BODIES,         &STRING_START_BODIES,     &STRING_END_BODIES,       &LINE_START_BODIES,
    &LINE_END_BODIES,     &REST_OF_LINE_BODIES,     &QUOTED_STRING_BODIES,    &EMPTY_BODIES,
    &NO_MATCH_BODIES,     &SKIP_TO_BODIES};

// A guard refused to nest during the body: whatever the body produced (a result, or the failure it reported
// for the unwound match) gives way to RecursionError.
[[gnu::cold]] PyObject* recursion_overflow_result(PyObject* result) {
  (void)take_recursion_overflow();
  Py_XDECREF(result);
  PyErr_Clear();
  return py::raise_recursion_error();
}

inline PyObject* finish_body(PyObject* result) {
  if (recursion_overflowed()) [[unlikely]]
    return recursion_overflow_result(result);
  if (result == nullptr) [[unlikely]]
    return py::pending_error();
  return result;
}

template <Method M>
TextBody text_body(const MethodBodies& b) noexcept {
  static_assert(M == Method::ParseString || M == Method::Matches || M == Method::SearchString ||
                M == Method::SearchStringCount);
  if constexpr (M == Method::ParseString) {
    return b.parse_string;
  } else if constexpr (M == Method::Matches) {
    return b.matches;
  } else if constexpr (M == Method::SearchString) {
    return b.search_string;
  } else {
    return b.search_string_count;
  }
}

// The view of `s`, or for a body that reads units (MethodBodies::reads_units) the null view of a str whose
// UTF-8 form is not at hand, checked for surrogates unless the body checks them (checks_surrogates); the same
// errors either way.
template <Method M>
bool text_argument(const py::BoundArguments& bound, const MethodBodies& bodies, std::string_view& text) {
  if ((bodies.reads_units & method_bit(M)) == 0) return bound.str(0, text);
  if ((bodies.checks_surrogates & method_bit(M)) == 0) return bound.str_or_units(0, text);
  return bound.str_or_unchecked_units(0, text);
}

// One entry per (class, method). Order of work, and so of the errors raised: binding, receiver, the
// parameters in order (`s` before `replacement`), the body. The receiver holder releases the borrow and the
// reference on every path out.
template <ClassId C, Method M>
PyObject* method_call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  py::BoundArguments bound(METHOD_DESCRIPTOR<C, M>);
  if (!bound.bind_fastcall(args, nargs, kwnames)) return nullptr;
  ClassRef receiver;
  if (!borrow_class_ref<C>(self, receiver)) return nullptr;
  const MethodBodies& bodies = *CLASS_BODIES[class_index(C)];
  const Element& element = receiver.element();
  // The body runs no Python code and its texts are strs the call holds: memos of this session stay sound.
  MatchSession session;
  if constexpr (M == Method::ParseBatch || M == Method::ParseBatchCount) {
    PyObject* inputs = nullptr;
    if (!bound.list(0, inputs)) return nullptr;
    BatchBody body = M == Method::ParseBatch ? bodies.parse_batch : bodies.parse_batch_count;
    // The batch bodies read the list's item array in place and keep views into its strs while they allocate
    // result lists. Allocating a tracked object may start a garbage collection, whose finalisers are arbitrary
    // Python code that could change the list under them. No other Python code runs during a body, so pausing
    // the collector for its duration makes the in-place reading sound; it costs two calls per batch, never per
    // item.
    py::CollectorPause pause;
    return finish_body(body(self, element, inputs));
  } else if constexpr (M == Method::TransformString) {
    std::string_view text;
    std::string_view replacement;
    if (!text_argument<M>(bound, bodies, text) || !bound.str(1, replacement)) return nullptr;
    return finish_body(bodies.transform_string(self, element, bound[0], text, bound[1], replacement));
  } else if constexpr (M == Method::Set) {
    static_assert(C == ClassId::Forward);
    return finish_body(forward_set(self, element, bound[0]));
  } else {
    std::string_view text;
    if (!text_argument<M>(bound, bodies, text)) return nullptr;
    return finish_body(text_body<M>(bodies)(self, element, bound[0], text));
  }
}

// Memory a body asked for and could not have (a result, a vector of spans or tokens, a table: the input decides
// their size) ends the body with std::bad_alloc. Every body keeps what it made in holders that release it
// while the exception unwinds (PyRef, the tables of engine/ and fastpaths/, the receiver holder, the
// collector pause, the depth guards and the Forward read locks), and stores borrowed references into a list
// only where nothing between the stores and the raising of their counts can throw. So here nothing is left
// but to report MemoryError; a recursion overflow met before the failure gives way to it.
[[gnu::cold]] PyObject* memory_exhausted() noexcept {
  (void)take_recursion_overflow();
  return PyErr_NoMemory();
}

template <ClassId C, Method M>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept;

// The overflow flag belongs to the call whose match set it. A body that makes its result or its error after an
// overflow may start a collection whose finalisers call this module again while the flag is still set; that
// nested call must neither fail at once nor take the flag for its own, or the outer call would return its
// partial result (or an ordinary failure) in place of RecursionError. So a call that finds the flag set sets it
// aside for its own length and puts it back.
template <ClassId C, Method M>
[[gnu::cold, gnu::noinline]] PyObject* nested_method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                                           PyObject* kwnames) noexcept {
  recursion_state().overflowed = false;
  PyObject* result = method_entry<C, M>(self, args, nargs, kwnames);
  recursion_state().overflowed = true;
  return result;
}

template <ClassId C, Method M>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  if (!py::exception_state_ready()) [[unlikely]]
    return nullptr;
  if (recursion_state().overflowed) [[unlikely]]
    return nested_method_entry<C, M>(self, args, nargs, kwnames);
  try {
    return method_call<C, M>(self, args, nargs, kwnames);
  } catch (const std::bad_alloc&) {
    return memory_exhausted();
  }
}

template <ClassId C, Method M>
PyMethodDef method_record() {
  return {method_name(M).data(), py::as_method_function(&method_entry<C, M>), METH_FASTCALL | METH_KEYWORDS,
          method_doc(C, M)};
}

template <ClassId C>
PyMethodDef forward_set_record_or_sentinel() {
  if constexpr (C == ClassId::Forward) {
    return method_record<C, Method::Set>();
  } else {
    return {nullptr, nullptr, 0, nullptr};
  }
}

template <ClassId C>
PyMethodDef METHOD_RECORDS[STANDARD_METHOD_COUNT + 2] = {
    method_record<C, Method::ParseString>(),     method_record<C, Method::Matches>(),
    method_record<C, Method::SearchString>(),    method_record<C, Method::SearchStringCount>(),
    method_record<C, Method::ParseBatch>(),      method_record<C, Method::ParseBatchCount>(),
    method_record<C, Method::TransformString>(), forward_set_record_or_sentinel<C>(),
    {nullptr, nullptr, 0, nullptr}};

template <std::size_t... I>
constexpr std::array<PyMethodDef*, CLASS_COUNT> all_method_records(std::index_sequence<I...>) {
  return {METHOD_RECORDS<static_cast<ClassId>(I)>...};
}
constexpr std::array<PyMethodDef*, CLASS_COUNT> CLASS_METHOD_RECORDS =
    all_method_records(std::make_index_sequence<CLASS_COUNT>{});

}  // namespace

PyMethodDef* class_method_records(ClassId c) { return CLASS_METHOD_RECORDS[class_index(c)]; }

}  // namespace quillex::engine
