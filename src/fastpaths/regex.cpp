// Methods of Regex. None calls an operation of the element: the tests of one text or one input (parse_string,
// matches, parse_batch, parse_batch_count) apply the anchored rule at 0 (RegexElement::match_at, the rule
// try_match_at shares); the searches over a text (search_string, search_string_count, transform_string) iterate
// the unanchored expression (for_each_regex_match), empty matches listed, counted and replaced.
#include "elements/regex_find.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "elements/regex.h"
#include "engine/batch.h"
#include "engine/bodies.h"
#include "engine/token_intern.h"
#include "engine/transform_result.h"
#include "fastpaths/word_batch.h"
#include "py/errors.h"

namespace quillex::engine {

namespace {


const RegexElement& as_regex(const Element& e) noexcept { return static_cast<const RegexElement&>(e); }

// The match text at the start of the text, also when it covers the whole text: a new str, never `s` itself.
PyObject* regex_parse_string(PyObject*, const Element& e, PyObject*, std::string_view text) {
  const MatchResult m = as_regex(e).match_at(text, 0);
  if (!m.matched) return py::raise_value_error("Expected regex match");
  py::PyRef token = py::PyRef::steal(py::new_str_or_throw(text.substr(0, m.end)));
  PyObject* list = PyList_New(1);
  if (list == nullptr) return py::pending_error();
  PyList_SET_ITEM(list, 0, token.release());
  return list;
}

PyObject* regex_matches(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return PyBool_FromLong(as_regex(e).match_at(text, 0).matched);
}

PyObject* regex_search_string_count(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return py::new_count_or_die(count_regex_matches(as_regex(e), text));
}

// The list is made at its final length, equal match texts sharing one str. A class run counts first (a byte
// scan) and then fills the list as it finds the matches; RE2's iteration records the spans (offsets, no texts)
// in one pass instead, from which the list is made, since a counting pass followed by a second iteration would
// pay every RE2 search twice (about 1.8x slower on texts with many short matches).
PyObject* regex_search_string(PyObject*, const Element& e, PyObject*, std::string_view text) {
  const RegexElement& re = as_regex(e);
  const RegexFastForm& fast = re.fast();
  if (const std::optional<ByteClass>& run = fast.run) {
    const std::uint64_t count = run->count_run_matches(text, fast.run_may_be_empty);
    if (count == 0) return py::new_empty_list_or_die();
    CountedTokenList list(text);
    if (!list.open(count)) return nullptr;
    iterate_matches(
        text, [&](Pos from) { return find_run_match(*run, fast.run_may_be_empty, text, from); },
        [&](Pos start, Pos end) {
          if (list.size() == count) fatal("Regex.search_string: the class run was counted wrongly");
          list.add(start, end);
        });
    if (list.size() != count) fatal("Regex.search_string: the class run was counted wrongly");
    return list.finish();
  }
  TokenSpans spans;
  for_each_regex_match(re, text, [&spans](Pos start, Pos end) { spans.push(start, end); });
  if (spans.empty()) return py::new_empty_list_or_die();
  return interned_list_of_spans(text, spans);
}

// The spans of the first matches, recorded while a transform sizes its result so that writing it need not
// search again for them: up to TRANSFORM_RECORDED_SPANS, as two 32-bit offsets each (a text of 4 GiB or more
// records none). Past the limit the writer resumes the iteration where recording stopped; a buffer that
// cannot be had records nothing more. Either way the extra memory stays below 1 MiB whatever the text.
inline constexpr std::size_t TRANSFORM_RECORDED_SPANS = std::size_t{1} << 17;

class RecordedSpans {
 public:
  explicit RecordedSpans(std::string_view text) noexcept : usable_(text.size() <= UINT32_MAX) {}
  RecordedSpans(const RecordedSpans&) = delete;
  RecordedSpans& operator=(const RecordedSpans&) = delete;
  ~RecordedSpans() { std::free(spans_); }

  // Records `m`; false when the span is not recorded (the limit is reached or no memory could be had).
  bool record(RegexMatch m) noexcept {
    if (size_ == capacity_) {
      const std::size_t grown = capacity_ == 0 ? 64 : capacity_ * 2;
      if (!usable_ || grown > TRANSFORM_RECORDED_SPANS) return false;
      void* bigger = std::realloc(spans_, grown * sizeof(Span));
      if (bigger == nullptr) return false;
      spans_ = static_cast<Span*>(bigger);
      capacity_ = grown;
    }
    spans_[size_++] = {static_cast<std::uint32_t>(m.start), static_cast<std::uint32_t>(m.end)};
    return true;
  }
  std::size_t size() const noexcept { return size_; }
  RegexMatch operator[](std::size_t i) const noexcept { return {spans_[i].start, spans_[i].end}; }

 private:
  struct Span {
    std::uint32_t start;
    std::uint32_t end;
  };
  Span* spans_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  bool usable_;
};

// Every match replaced, empty ones included (the replacement is then inserted and nothing removed); the
// replacement is inserted byte for byte, with no group reference or escape read in it. The result is always a
// new str of its exact size: one pass sizes it, recording the first spans, and the write replays them and
// searches again only for the matches past the recorded ones.
PyObject* regex_transform_string(PyObject*, const Element& e, PyObject* s, std::string_view text,
                                 PyObject* replacement_obj, std::string_view replacement) {
  return with_regex_finder(as_regex(e), text, [&](auto&& find) -> PyObject* {
    MatchCursor cursor;
    MatchCursor resume;  // the iteration just after the last recorded span
    RecordedSpans recorded(text);
    bool recording = true;
    std::uint64_t count = 0;
    std::uint64_t removed = 0;
    while (const std::optional<RegexMatch> m = cursor.next(text, find)) {
      ++count;
      removed += m->end - m->start;
      if (recording && (recording = recorded.record(*m))) resume = cursor;
    }
    return transform_counted(s, text, replacement_obj, replacement, count, removed, [&](auto&& on_span) {
      for (std::size_t i = 0; i < recorded.size(); ++i) on_span(recorded[i].start, recorded[i].end);
      if (!recording) {
        while (const std::optional<RegexMatch> m = resume.next(text, find)) on_span(m->start, m->end);
      }
      return true;
    });
  });
}

PyObject* regex_parse_batch_count(PyObject*, const Element& e, PyObject* inputs) {
  const RegexElement& re = as_regex(e);
  return run_count_batch(inputs, [&re](std::string_view text) { return re.match_at(text, 0).matched; });
}

// The token of one input: the match text at 0. A match spanning its whole input is the input itself, when that
// is an exact str: a subclass instance would carry its type into the result.
PyObject* regex_parse_batch(PyObject*, const Element& e, PyObject* inputs) {
  const RegexElement& re = as_regex(e);
  return fastpaths::build_flat_batch(inputs, [&re](PyObject* item, std::string_view text) -> PyObject* {
    const MatchResult m = re.match_at(text, 0);
    if (!m.matched) return nullptr;
    if (m.end == text.size() && PyUnicode_CheckExact(item)) return Py_NewRef(item);
    return py::new_str_or_throw(text.substr(0, m.end));
  });
}

}  // namespace

const MethodBodies REGEX_BODIES = {regex_parse_string,      regex_matches,           regex_search_string,
                                   regex_search_string_count, regex_parse_batch,     regex_parse_batch_count,
                                   regex_transform_string};

}  // namespace quillex::engine
