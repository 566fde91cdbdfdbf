#include "extract.h"

#include <array>

namespace quillex {

namespace {

// The order in which the classes are tried, the most common operands first. The classes cannot be subclassed
// and an object has one type, so at most one test succeeds; the order fixes only what an object costs.
constexpr std::array<ClassId, CLASS_COUNT> ELEMENT_EXTRACTION_ORDER = {
    ClassId::Literal,         ClassId::Word,       ClassId::Regex,        ClassId::And,       ClassId::MatchFirst,
    ClassId::Group,           ClassId::Suppress,   ClassId::ZeroOrMore,   ClassId::OneOrMore, ClassId::Optional,
    ClassId::Keyword,         ClassId::Forward,    ClassId::Combine,      ClassId::Exactly,   ClassId::CaselessLiteral,
    ClassId::CaselessKeyword, ClassId::Char,       ClassId::StringStart,  ClassId::StringEnd, ClassId::LineStart,
    ClassId::LineEnd,         ClassId::RestOfLine, ClassId::QuotedString, ClassId::Empty,     ClassId::NoMatch,
    ClassId::SkipTo};

}  // namespace

// The element is read under a shared borrow of the object, held only while the handle is copied.
bool extract_class_element(ClassId c, PyObject* obj, ElementRef& out) {
  ClassRef holder;
  if (!borrow_class_ref(c, obj, holder)) return false;
  out = holder.element_ref();
  return true;
}

bool extract_element(PyObject* obj, ElementRef& out) {
  for (ClassId c : ELEMENT_EXTRACTION_ORDER) {
    if (is_class_instance(c, obj)) return extract_class_element(c, obj, out);
  }
  (void)py::raise_value_error("Unsupported parser element type");
  return false;
}

}  // namespace quillex
