#include "docs.h"

namespace quillex {

namespace {

// Signatures of the seven standard methods and `set`, shared by every class; the descriptions below are the
// exceptions.
#define QX_PARSE_STRING "parse_string($self, s)\n--\n\n"
#define QX_MATCHES "matches($self, s)\n--\n\n"
#define QX_SEARCH_STRING "search_string($self, s)\n--\n\n"
#define QX_SEARCH_STRING_COUNT "search_string_count($self, s)\n--\n\n"
#define QX_PARSE_BATCH "parse_batch($self, inputs)\n--\n\n"
#define QX_PARSE_BATCH_COUNT "parse_batch_count($self, inputs)\n--\n\n"
#define QX_TRANSFORM_STRING "transform_string($self, s, replacement)\n--\n\n"

constexpr const char* PLAIN_METHOD_DOCS[] = {QX_PARSE_STRING,        QX_MATCHES,     QX_SEARCH_STRING,
                                             QX_SEARCH_STRING_COUNT, QX_PARSE_BATCH, QX_PARSE_BATCH_COUNT,
                                             QX_TRANSFORM_STRING,    "set($self, expr)\n--\n\n"};

// Texts shared word for word by several classes.
constexpr const char* MATCH_CHECK_DOC = QX_MATCHES "Zero-allocation match check";
constexpr const char* BATCH_INCREF_DOC = QX_PARSE_BATCH "Cyclic detection + hash-based cache fallback + bulk INCREF";

const char* and_doc(Method m) noexcept {
  switch (m) {
    case Method::ParseString:
      return QX_PARSE_STRING "Parse using try_match_at on flattened elements — raw FFI list construction";
    case Method::Matches:
      return QX_MATCHES "Zero-allocation match check using try_match_at (no ParseResults)";
    case Method::SearchString:
      return QX_SEARCH_STRING "Search string — raw FFI with dedup for repeated tokens";
    case Method::ParseBatch:
      return QX_PARSE_BATCH "Cyclic detection + hash-based cache fallback + indexed tokens";
    case Method::ParseBatchCount:
      return QX_PARSE_BATCH_COUNT "Cyclic detection + hash-based pointer cache count";
    default:
      return nullptr;
  }
}

const char* word_doc(Method m) noexcept {
  switch (m) {
    case Method::ParseString:
      return QX_PARSE_STRING "Fast-path word parse — returns PyList directly, no C++ string allocated";
    case Method::Matches:
      return QX_MATCHES "Zero-allocation match check via try_match_at";
    case Method::SearchString:
      return QX_SEARCH_STRING
          "Search string — text cycle detection + memcpy doubling fast path,\n"
          "fallback to single-pass scan + u8 index dedup + bulk INCREF";
    case Method::SearchStringCount:
      return QX_SEARCH_STRING_COUNT "Count word matches in large text — cycle detection + branchless scan";
    case Method::ParseBatch:
      return BATCH_INCREF_DOC;
    case Method::ParseBatchCount:
      return QX_PARSE_BATCH_COUNT "Count word matches in batch — uniform + cycle + hash cache";
    case Method::TransformString:
      return QX_TRANSFORM_STRING "Specialized transform: uses 256-byte lookup tables for direct byte scanning.";
    default:
      return nullptr;
  }
}

const char* regex_doc(Method m) noexcept {
  switch (m) {
    case Method::ParseString:
      return QX_PARSE_STRING "Fast-path regex parse — returns PyList directly, no C++ string allocated";
    case Method::Matches:
      return MATCH_CHECK_DOC;
    case Method::SearchString:
      return QX_SEARCH_STRING "Search string — count-first + direct fill with dedup (no intermediate Vec)";
    case Method::SearchStringCount:
      return QX_SEARCH_STRING_COUNT "Count regex matches in text — uses find_iter for SIMD-accelerated search";
    case Method::ParseBatch:
      return BATCH_INCREF_DOC;
    case Method::ParseBatchCount:
      return QX_PARSE_BATCH_COUNT "Count regex matches in batch — uniform + cycle + hash cache";
    case Method::TransformString:
      return QX_TRANSFORM_STRING "Specialized: uses regex replace_all for efficient in-engine replacement.";
    default:
      return nullptr;
  }
}

const char* keyword_doc(Method m) noexcept {
  switch (m) {
    case Method::ParseString:
      return QX_PARSE_STRING "Fast keyword parse — uses try_match_at + cached PyString, zero allocation";
    case Method::SearchString:
      return QX_SEARCH_STRING "Search string — count + PySequence_Repeat (same pattern as Literal)";
    case Method::ParseBatch:
      return QX_PARSE_BATCH "Specialized parse_batch — cached PyString + last-pointer cache";
    default:
      return nullptr;
  }
}

const char* literal_doc(Method m) noexcept {
  switch (m) {
    case Method::ParseString:
      return QX_PARSE_STRING "Fast inline parse — returns PyList with cached PyString, zero C++ allocation";
    case Method::Matches:
      return MATCH_CHECK_DOC;
    case Method::SearchString:
      return QX_SEARCH_STRING "Search string — cycle-aware count + PySequence_Repeat for optimal list creation";
    case Method::SearchStringCount:
      return QX_SEARCH_STRING_COUNT "Count occurrences — cycle detection fast path + SIMD memchr fallback";
    case Method::ParseBatch:
      return QX_PARSE_BATCH "Full raw FFI batch parse — uniform detection + bulk INCREF, last-ptr fallback";
    case Method::ParseBatchCount:
      return QX_PARSE_BATCH_COUNT "Full raw FFI count — uniform detection + last-ptr fallback";
    case Method::TransformString:
      return QX_TRANSFORM_STRING
          "Replace all non-overlapping matches with replacement string.\n"
          "Uses SIMD-accelerated memchr::memmem for literal search.";
    default:
      return nullptr;
  }
}

}  // namespace

const char* class_doc(ClassId c) noexcept {
  switch (c) {
    case ClassId::Literal: return "Literal(s)\n--\n\n";
    case ClassId::Keyword: return "Keyword(s)\n--\n\n";
    case ClassId::CaselessLiteral: return "CaselessLiteral(s)\n--\n\n";
    case ClassId::CaselessKeyword: return "CaselessKeyword(s)\n--\n\n";
    case ClassId::Char: return "Char(s)\n--\n\n";
    case ClassId::Word: return "Word(init_chars, body_chars=None)\n--\n\n";
    case ClassId::Regex: return "Regex(pattern)\n--\n\n";
    case ClassId::QuotedString:
      return "QuotedString(quote_char=\"\\\"\", esc_char=None, multiline=False, unquote=True)\n--\n\n";
    case ClassId::MatchFirst: return "MatchFirst(exprs)\n--\n\n";
    case ClassId::Group: return "Group(expr)\n--\n\n";
    case ClassId::OneOrMore: return "OneOrMore(expr)\n--\n\n";
    case ClassId::ZeroOrMore: return "ZeroOrMore(expr)\n--\n\n";
    case ClassId::SkipTo: return "SkipTo(expr)\n--\n\n";
    case ClassId::Suppress: return "Suppress(expr)\n--\n\n";
    case ClassId::Combine: return "Combine(expr)\n--\n\n";
    case ClassId::Optional: return "Optional(expr)\n--\n\n";
    case ClassId::Exactly: return "Exactly(expr, count)\n--\n\n";
    case ClassId::RestOfLine: return "rest_of_line()\n--\n\n";
    case ClassId::StringStart: return "StringStart()\n--\n\n";
    case ClassId::LineStart: return "LineStart()\n--\n\n";
    case ClassId::Empty: return "Empty()\n--\n\n";
    case ClassId::NoMatch: return "NoMatch()\n--\n\n";
    case ClassId::LineEnd: return "LineEnd()\n--\n\n";
    case ClassId::Forward: return "Forward()\n--\n\n";
    case ClassId::StringEnd: return "StringEnd()\n--\n\n";
    case ClassId::And: return nullptr;
  }
  return nullptr;
}

const char* method_doc(ClassId c, Method m) noexcept {
  const char* own = nullptr;
  switch (c) {
    case ClassId::And: own = and_doc(m); break;
    case ClassId::Word: own = word_doc(m); break;
    case ClassId::Regex: own = regex_doc(m); break;
    case ClassId::Keyword: own = keyword_doc(m); break;
    case ClassId::Literal: own = literal_doc(m); break;
    case ClassId::Forward:
      if (m == Method::Set) {
        own = "set($self, expr)\n--\n\nSet the inner parser expression (equivalent to <<= in quillet).";
      }
      break;
    default: break;
  }
  return own != nullptr ? own : PLAIN_METHOD_DOCS[static_cast<std::size_t>(m)];
}

}  // namespace quillex
