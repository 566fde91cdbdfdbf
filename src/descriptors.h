// The parameters of every callable that takes arguments: the 182 standard methods, Forward.set, the 25
// constructors and one_of. The binder (py/binder.h) applies them.
#pragma once

#include "classes.h"
#include "py/binder.h"

namespace quillex {

constexpr py::ArgumentDescriptor method_descriptor(ClassId c, Method m) noexcept {
  switch (m) {
    case Method::ParseBatch:
    case Method::ParseBatchCount:
      return {method_name(m), class_name(c), {"inputs"}, 1, 1};
    case Method::TransformString:
      return {method_name(m), class_name(c), {"s", "replacement"}, 2, 2};
    case Method::Set:
      return {method_name(m), class_name(c), {"expr"}, 1, 1};
    default:
      return {method_name(m), class_name(c), {"s"}, 1, 1};
  }
}

// And has no constructor (its tp_new refuses every call); its entry here is never used.
constexpr py::ArgumentDescriptor constructor_descriptor(ClassId c) noexcept {
  constexpr std::string_view NEW = "__new__";
  switch (c) {
    case ClassId::Literal:
    case ClassId::Keyword:
    case ClassId::CaselessLiteral:
    case ClassId::CaselessKeyword:
    case ClassId::Char:
      return {NEW, class_name(c), {"s"}, 1, 1};
    case ClassId::Word:
      return {NEW, class_name(c), {"init_chars", "body_chars"}, 2, 1};
    case ClassId::Regex:
      return {NEW, class_name(c), {"pattern"}, 1, 1};
    case ClassId::QuotedString:
      return {NEW, class_name(c), {"quote_char", "esc_char", "multiline", "unquote"}, 4, 0};
    case ClassId::MatchFirst:
      return {NEW, class_name(c), {"exprs"}, 1, 1};
    case ClassId::Group:
    case ClassId::OneOrMore:
    case ClassId::ZeroOrMore:
    case ClassId::SkipTo:
    case ClassId::Suppress:
    case ClassId::Combine:
    case ClassId::Optional:
      return {NEW, class_name(c), {"expr"}, 1, 1};
    case ClassId::Exactly:
      return {NEW, class_name(c), {"expr", "count"}, 2, 2};
    default:  // the eight classes made without arguments, and And
      return {NEW, class_name(c), {}, 0, 0};
  }
}

template <ClassId C, Method M>
inline constexpr py::ArgumentDescriptor METHOD_DESCRIPTOR = method_descriptor(C, M);
template <ClassId C>
inline constexpr py::ArgumentDescriptor CONSTRUCTOR_DESCRIPTOR = constructor_descriptor(C);
inline constexpr py::ArgumentDescriptor ONE_OF_DESCRIPTOR = {"one_of", {}, {"strs"}, 1, 1};

}  // namespace quillex
