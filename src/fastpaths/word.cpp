// The seven methods of Word. None calls an operation of the element: each tests the text's bytes in place with
// the element's two sets (the byte rule of word_rule.h) and builds only the objects it returns. A Word with set
// members U+0080..U+00FF runs the element's rule (WordElement::match) instead, which takes those characters
// whole (transform_string runs the branch-free rule of word_rule.h, which takes them whole too); all give
// exactly the matches of the element's try_match_at, so every method agrees with the common routine over that
// element.
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "elements/chars.h"
#include "engine/batch.h"
#include "engine/bodies.h"
#include "engine/text_period.h"
#include "engine/token_intern.h"
#include "engine/transform_result.h"
#include "engine/unit_results.h"
#include "fastpaths/word_batch.h"
#include "fastpaths/word_rule.h"
#include "py/binder.h"
#include "py/errors.h"
#include "py/str_units.h"

namespace quillex::fastpaths {

namespace {

using py::PyRef;

const WordElement& as_word(const Element& e) noexcept { return static_cast<const WordElement&>(e); }

unsigned char byte_at(std::string_view text, Pos i) noexcept { return static_cast<unsigned char>(text[i]); }

// The end of the word at position 0, or 0 when none starts there (a word is never empty).
Pos word_end_at_start(const WordElement& w, bool bytes, std::string_view text) noexcept {
  if (bytes) {
    if (text.empty() || !w.init().contains(byte_at(text, 0))) return 0;
    return word_run_end(w.body(), text, 0);
  }
  const MatchResult m = w.match(text, 0);
  return m.matched ? m.end : 0;
}

// With the byte rule a word starts at 0 exactly when the first byte is an initial byte: min <= 1, so the run
// that follows does not matter.
bool word_starts_text(const WordElement& w, bool bytes, std::string_view text) noexcept {
  if (bytes) return !text.empty() && w.init().contains(byte_at(text, 0));
  return w.match(text, 0).matched;
}

PyObject* new_bool(bool b) { return Py_NewRef(b ? Py_True : Py_False); }

// ---------------------------------------------------------------------------------------------------------------
// parse_string, matches, parse_batch, parse_batch_count: a text from its start.

PyObject* word_parse_string(PyObject*, const Element& e, PyObject*, std::string_view text) {
  const WordElement& w = as_word(e);
  const Pos end = word_end_at_start(w, word_uses_byte_rule(w), text);
  if (end == 0) return py::raise_value_error("Expected word");
  PyRef list = PyRef::steal(PyList_New(1));
  if (!list) return py::pending_error();
  // A new str also when the word is the whole text: the argument object is not handed back.
  PyList_SET_ITEM(list.get(), 0, py::new_str_or_throw(text.substr(0, end)));
  return list.release();
}

PyObject* word_matches(PyObject*, const Element& e, PyObject*, std::string_view text) {
  const WordElement& w = as_word(e);
  return new_bool(word_starts_text(w, word_uses_byte_rule(w), text));
}

PyObject* word_parse_batch(PyObject*, const Element& e, PyObject* inputs) {
  const WordElement& w = as_word(e);
  const bool bytes = word_uses_byte_rule(w);
  // A word spanning its whole input is the input itself, when that is an exact str: a subclass instance would
  // carry its type into the result.
  return build_flat_batch(inputs, [&w, bytes](PyObject* item, std::string_view text) -> PyObject* {
    const Pos end = word_end_at_start(w, bytes, text);
    if (end == 0) return nullptr;
    if (end == text.size() && PyUnicode_CheckExact(item)) return Py_NewRef(item);
    return py::new_str_or_throw(text.substr(0, end));
  });
}

PyObject* word_parse_batch_count(PyObject*, const Element& e, PyObject* inputs) {
  const WordElement& w = as_word(e);
  const bool bytes = word_uses_byte_rule(w);
  return engine::run_count_batch(inputs,
                                 [&w, bytes](std::string_view text) { return word_starts_text(w, bytes, text); });
}

// ---------------------------------------------------------------------------------------------------------------
// search_string_count and transform_string: through the whole text.

// The text's period p when the whole text is its first p bytes repeated (the last repetition possibly cut
// short), else 0. detect_text_period vouches only for the first 2p bytes.
Pos whole_text_period(std::string_view text) noexcept {
  const Pos p = engine::detect_text_period(text);
  return p != 0 && engine::repeats_with_period(text, p) ? p : 0;
}

bool word_byte(const WordByteTables& tables, unsigned char b) noexcept {
  return (tables.INIT[b] | tables.BODY[b]) != 0;
}

// The words of a text with the byte rule. When the text repeats with period p and no word can run across a
// period's end (t[p-1] or t[0] is no word byte), every period starts from a fresh state and holds the same
// words: one period is counted and multiplied, and the incomplete last period counted on its own.
std::uint64_t count_words(const WordByteTables& tables, std::string_view text) noexcept {
  const Pos n = text.size();
  const Pos p = whole_text_period(text);
  if (p == 0 || (word_byte(tables, byte_at(text, p - 1)) && word_byte(tables, byte_at(text, 0)))) {
    return count_words_branchless(tables, text, 0, n);
  }
  const Pos r = n / p;
  return count_words_branchless(tables, text, 0, p) * r + count_words_branchless(tables, text, r * p, n);
}

// ---------------------------------------------------------------------------------------------------------------
// A str handed over unviewed, read in its own units by the branch-free rule (a Word of the constructor's limits):
// the tables hold the code points below U+0100 as their entries (the byte rule's members are ASCII, the wide
// rule's U+0080..U+00FF sit at 0x80-0xFF), so each unit is one step of the rule, and the words are the ones the
// UTF-8 route finds. Latin-1 units are bytes that are their own entries, so the byte functions serve them as
// they are.

// An entry in neither table, for the code points above U+00FF; none when every entry is in one.
std::optional<unsigned char> outside_entry(const WordByteTables& tables) noexcept {
  for (unsigned b = 0; b < 256; ++b) {
    if (tables.INIT[b] == 0 && tables.BODY[b] == 0) return static_cast<unsigned char>(b);
  }
  return std::nullopt;
}

std::uint64_t count_word_units(const WordByteTables& tables, const py::StrUnits& units) noexcept {
  if (units.kind == 1) return count_words(tables, units.as_bytes());
  const std::optional<unsigned char> outside = outside_entry(tables);
  return py::by_unit(units.kind, [&](auto unit) {
    const auto* t = reinterpret_cast<const py::unit_t<unit()>*>(units.data);
    if (outside) return cover_word_units(tables, t, units.length, *outside).words;
    std::uint64_t count = 0;
    scan_word_units(tables, t, units.length, [&count](std::size_t, std::size_t) { ++count; });
    return count;
  });
}

// Runs body(scan) with the word scan of `units` as a scan(on_span) -> true (engine/unit_results.h).
template <class Body>
PyObject* with_word_unit_scan(const WordByteTables& tables, const py::StrUnits& units, Body&& body) {
  return py::by_unit(units.kind, [&](auto unit) {
    const auto* t = reinterpret_cast<const py::unit_t<unit()>*>(units.data);
    return body([&](auto&& on_span) {
      scan_word_units(tables, t, units.length, on_span);
      return true;
    });
  });
}

PyObject* word_search_string_count(PyObject*, const Element& e, PyObject* s, std::string_view text) {
  const WordElement& w = as_word(e);
  if (engine::unviewed(text)) {
    if (word_uses_branch_free_rule(w)) {
      return py::new_count_or_die(count_word_units(WordByteTables(w), py::str_units(s)));
    }
    if (!py::extract_str_argument(s, text)) return nullptr;
  }
  if (text.empty()) return py::new_count_or_die(0);
  std::uint64_t count = 0;
  if (word_uses_byte_rule(w)) {
    const WordByteTables tables(w);
    count = count_words(tables, text);
  } else {
    scan_element_words(w, text, [&count](Pos, Pos) { ++count; });
  }
  return py::new_count_or_die(count);
}

// transform_words over the units of a non-ASCII str, written as units of its kind straight into the result:
// for a replacement of at most 8 code points that fit that kind. The result keeps the text's widest code
// points (they are never word members: above 0xFF, or non-ASCII for the byte rule), so it is canonical at that
// kind; a wide rule over a latin-1 str could replace them all, so there the replacement must be non-ASCII.
// `text` is the UTF-8 view, or the null view of a str handed over unviewed. nullopt when the route does not
// apply.
template <class U>
std::optional<PyObject*> transform_word_units(const WordByteTables& tables, bool wide, PyObject* s,
                                              std::string_view text, PyObject* replacement_obj) {
  const auto kind = static_cast<unsigned>(PyUnicode_KIND(s));
  const Py_ssize_t r = PyUnicode_GET_LENGTH(replacement_obj);
  if (r > 8 || PyUnicode_KIND(replacement_obj) > kind) return std::nullopt;
  if (wide && kind == 1 && PyUnicode_IS_ASCII(replacement_obj)) return std::nullopt;
  unsigned char outside = 0;  // an entry in neither table, for the code points above 0xFF
  while (tables.INIT[outside] != 0 || tables.BODY[outside] != 0) {
    if (++outside == 0) return std::nullopt;
  }
  U units[8] = {};
  py::copy_units(static_cast<const char*>(PyUnicode_DATA(replacement_obj)),
                 static_cast<unsigned>(PyUnicode_KIND(replacement_obj)), static_cast<std::size_t>(r),
                 reinterpret_cast<char*>(units), kind);
  const auto* t = static_cast<const U*>(PyUnicode_DATA(s));
  const auto n = static_cast<std::size_t>(PyUnicode_GET_LENGTH(s));
  // Latin-1 units are bytes, each below 256: the byte rule's own scans serve them as they are.
  const std::string_view bytes(reinterpret_cast<const char*>(t), sizeof(U) == 1 ? n : 0);
  // The byte rule's words are ASCII, so over the UTF-8 form they cover as many bytes as they cover units here.
  const WordCoverage words = sizeof(U) == 1                       ? cover_words_branch_free<false>(tables, bytes)
                             : !wide && !engine::unviewed(text) ? cover_words_branch_free<false>(tables, text)
                                                                : cover_word_units(tables, t, n, outside);
  if (words.words == 0) return engine::new_str_copy(s);
  engine::TransformOutput out;
  if (!out.open_units(n, words.words, words.bytes, static_cast<std::uint64_t>(r), PyUnicode_MAX_CHAR_VALUE(s))) {
    return nullptr;
  }
  if constexpr (sizeof(U) == 1) {
    const std::string_view replacement(reinterpret_cast<const char*>(units), static_cast<std::size_t>(r));
    out.set_written(replace_words_branch_free<false>(tables, bytes, replacement, out.bytes(), out.size()));
  } else {
    out.set_written(replace_word_units(tables, t, n, units, static_cast<std::size_t>(r), outside,
                                       reinterpret_cast<U*>(out.bytes()), out.size()));
  }
  return out.finish();
}

// Every word replaced by `replacement`, always into a new str: the words are counted and their bytes summed
// first, so the result is made once at its exact size and written straight into it. Word matching never
// nests, so the scans never stop early.
template <bool Wide>
PyObject* transform_words(const WordElement& w, PyObject* s, std::string_view text, PyObject* replacement_obj,
                          std::string_view replacement) {
  const WordByteTables tables(w);
  if (!PyUnicode_IS_ASCII(s)) {
    std::optional<PyObject*> done;
    switch (PyUnicode_KIND(s)) {
      case PyUnicode_1BYTE_KIND: done = transform_word_units<std::uint8_t>(tables, Wide, s, text, replacement_obj); break;
      case PyUnicode_2BYTE_KIND: done = transform_word_units<std::uint16_t>(tables, Wide, s, text, replacement_obj); break;
      default: done = transform_word_units<std::uint32_t>(tables, Wide, s, text, replacement_obj); break;
    }
    if (done) return *done;
  }
  const WordCoverage words = cover_words_branch_free<Wide>(tables, text);
  if (words.words == 0) return engine::new_str_copy(s);
  // The branch-free writer writes bytes, so it serves ASCII results; the others are written in code points.
  if (replacement.size() > 8 || !PyUnicode_IS_ASCII(s) || !PyUnicode_IS_ASCII(replacement_obj)) {
    return engine::transform_counted(s, text, replacement_obj, replacement, words.words, words.bytes,
                                     [&](auto&& on_word) {
                                       if constexpr (Wide) {
                                         scan_element_words(w, text, on_word);
                                       } else {
                                         scan_words(tables, text, on_word);
                                       }
                                       return true;
                                     });
  }
  engine::TransformOutput out;
  if (!out.open(s, text, replacement_obj, replacement, words.words, words.bytes)) return nullptr;
  out.set_written(replace_words_branch_free<Wide>(tables, text, replacement, out.bytes(), out.size()));
  return out.finish();
}

// transform_string of a str handed over unviewed, by the branch-free rule over its units: transform_word_units,
// else every word of the unit scan replaced (engine/unit_results.h).
PyObject* transform_word_units_unviewed(const WordElement& w, PyObject* s, PyObject* replacement_obj) {
  const WordByteTables tables(w);
  const bool wide = !word_uses_byte_rule(w);
  std::optional<PyObject*> done;
  switch (PyUnicode_KIND(s)) {
    case PyUnicode_1BYTE_KIND: done = transform_word_units<std::uint8_t>(tables, wide, s, {}, replacement_obj); break;
    case PyUnicode_2BYTE_KIND: done = transform_word_units<std::uint16_t>(tables, wide, s, {}, replacement_obj); break;
    default: done = transform_word_units<std::uint32_t>(tables, wide, s, {}, replacement_obj); break;
  }
  if (done) return *done;
  return engine::unit_transform(s, replacement_obj, wide ? 0xFF : 0x7F,
                                [&tables](const py::StrUnits& units, auto&& body) {
                                  return with_word_unit_scan(tables, units, body);
                                });
}

PyObject* word_transform_string(PyObject*, const Element& e, PyObject* s, std::string_view text,
                                PyObject* replacement_obj, std::string_view replacement) {
  const WordElement& w = as_word(e);
  if (engine::unviewed(text)) {
    if (word_uses_branch_free_rule(w)) return transform_word_units_unviewed(w, s, replacement_obj);
    if (!py::extract_str_argument(s, text)) return nullptr;
  }
  if (word_uses_byte_rule(w)) return transform_words<false>(w, s, text, replacement_obj, replacement);
  if (word_uses_branch_free_rule(w)) return transform_words<true>(w, s, text, replacement_obj, replacement);
  return engine::transform_by_two_scans(s, text, replacement_obj, replacement, [&](auto&& on_word) {
    scan_element_words(w, text, on_word);
    return true;
  });
}

// ---------------------------------------------------------------------------------------------------------------
// search_string

// word_search_single_pass: the words counted first (`count`), the list made at that length, then filled in one
// scan with equal words sharing one str (engine::CountedTokenList).
template <class Scan>
PyObject* word_search_single_pass(std::string_view text, std::uint64_t count, Scan&& scan) {
  if (count == 0) return py::new_empty_list_or_die();
  engine::CountedTokenList list(text);
  if (!list.open(count)) return nullptr;
  scan([&](Pos start, Pos end) {
    if (list.size() == count) fatal("Word.search_string: the scan found more words than it counted");
    list.add(start, end);
  });
  if (list.size() != count) fatal("Word.search_string: the scan found fewer words than it counted");
  return list.finish();
}

// WordKeyCache: the distinct words of the periodic path, 32 slots on the call's stack, each owning its str. A
// word's key is its first 8 bytes little-endian, and for 8 bytes or more its length xor-ed into the top byte,
// so a lookup compares bytes only when the keys agree. A UTF-8 byte is never 0xFF, so no key is all ones, the
// mark of an empty slot. Home slot (key ^ (key >> 16)) & 31, linear probing.
// Example: "ab" has key 0x6261; "abcdefghq" (9 bytes) has key 0x6867666564636261 ^ (9 << 56).
class WordKeyCache {
 public:
  static constexpr unsigned SLOTS = 32;
  static constexpr std::uint64_t EMPTY = ~std::uint64_t{0};
  static constexpr unsigned FULL = SLOTS;

  WordKeyCache() { keys_.fill(EMPTY); }
  WordKeyCache(const WordKeyCache&) = delete;
  WordKeyCache& operator=(const WordKeyCache&) = delete;
  ~WordKeyCache() {
    for (PyObject* w : words_) Py_XDECREF(w);
  }

  static std::uint64_t key_of(std::string_view word) noexcept {
    std::uint64_t key = 0;
    if (word.size() < 8) {
      for (std::size_t i = word.size(); i-- > 0;) key = (key << 8) | static_cast<unsigned char>(word[i]);
      return key;
    }
    std::memcpy(&key, word.data(), 8);  // x86-64: little-endian
    return key ^ (static_cast<std::uint64_t>(word.size()) << 56);
  }

  // The slot of `word`, its str made on first sight; FULL when the word is new and every slot is taken.
  unsigned slot_of(std::string_view word) {
    const std::uint64_t key = key_of(word);
    unsigned s = static_cast<unsigned>((key ^ (key >> 16)) & (SLOTS - 1));
    for (unsigned probe = 0; probe < SLOTS; ++probe, s = (s + 1) & (SLOTS - 1)) {
      if (keys_[s] == EMPTY) {
        keys_[s] = key;
        texts_[s] = word;
        words_[s] = py::new_str_or_throw(word);
        return s;
      }
      if (keys_[s] == key && texts_[s] == word) return s;
    }
    return FULL;
  }

  PyObject* word(unsigned slot) const noexcept { return words_[slot]; }

 private:
  std::array<std::uint64_t, SLOTS> keys_;
  std::array<std::string_view, SLOTS> texts_{};
  std::array<PyObject*, SLOTS> words_{};
};

struct Span {
  Pos start, end;
};

// word_search_periodic: the text is its first p bytes repeated r = n / p >= 2 times plus an incomplete last
// period of o = n % p bytes, and the words of every period are `spans` (none running into the next period). The
// result is the period's words repeated (PySequence_Repeat when o == 0, else fill_by_doubling with the tail's
// words after it); each distinct word is one str, its count raised once by its number of slots. The result (a
// new list, or nullptr with the interpreter's error), or nothing when the text holds more distinct words than the
// cache has slots: the caller then takes the single pass.
std::optional<PyObject*> word_search_periodic(const WordByteTables& tables, std::string_view text, Pos p,
                                              const std::vector<Span>& spans) {
  WordKeyCache cache;
  std::vector<std::uint8_t> period;  // slot per span
  period.reserve(spans.size());
  for (const Span& s : spans) {
    const unsigned slot = cache.slot_of(text.substr(s.start, s.end - s.start));
    if (slot == WordKeyCache::FULL) return std::nullopt;
    period.push_back(static_cast<std::uint8_t>(slot));
  }
  const std::size_t m = period.size();
  const Pos n = text.size();
  const Pos r = n / p;
  const Pos o = n % p;
  if (o == 0) {
    PyRef block = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(m)));
    if (!block) return py::pending_error();
    for (std::size_t i = 0; i < m; ++i) {
      PyList_SET_ITEM(block.get(), static_cast<Py_ssize_t>(i), Py_NewRef(cache.word(period[i])));
    }
    PyObject* repeated = PySequence_Repeat(block.get(), static_cast<Py_ssize_t>(r));
    return repeated != nullptr ? repeated : py::pending_error();
  }
  // The last period starts from a fresh state too; its words run on to the text's end.
  std::vector<std::uint8_t> tail;
  bool overflow = false;
  const Pos tail_start = r * p;
  scan_words(tables, text.substr(tail_start), [&](Pos start, Pos end) {
    if (overflow) return;
    const unsigned slot = cache.slot_of(text.substr(tail_start + start, end - start));
    if (slot == WordKeyCache::FULL) {
      overflow = true;
      return;
    }
    tail.push_back(static_cast<std::uint8_t>(slot));
  });
  if (overflow) return std::nullopt;
  const std::size_t full = m * r;
  PyRef result = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(full + tail.size())));
  if (!result) return py::pending_error();
  PyObject** slots = reinterpret_cast<PyListObject*>(result.get())->ob_item;
  std::array<Py_ssize_t, WordKeyCache::SLOTS> uses{};
  for (std::size_t i = 0; i < m; ++i) {
    slots[i] = cache.word(period[i]);
    uses[period[i]] += static_cast<Py_ssize_t>(r);
  }
  engine::fill_by_doubling(result.get(), m, full);
  for (std::size_t i = 0; i < tail.size(); ++i) {
    slots[full + i] = cache.word(tail[i]);
    ++uses[tail[i]];
  }
  for (unsigned s = 0; s < WordKeyCache::SLOTS; ++s) {
    if (uses[s] != 0) engine::bulk_incref(cache.word(s), uses[s]);
  }
  return result.release();
}

// The words of one period, each run stopped at the period's end.
std::vector<Span> period_spans(const WordByteTables& tables, std::string_view text, Pos p) {
  std::vector<Span> spans;
  scan_words(tables, text.substr(0, p), [&spans](Pos start, Pos end) { spans.push_back({start, end}); });
  return spans;
}

// search_string over a UTF-8 view.
PyObject* search_words(const WordElement& w, std::string_view text) {
  if (!word_uses_byte_rule(w)) {
    std::uint64_t count = 0;
    scan_element_words(w, text, [&count](Pos, Pos) { ++count; });
    return word_search_single_pass(text, count, [&](auto&& on_word) { scan_element_words(w, text, on_word); });
  }
  const WordByteTables tables(w);
  auto single_pass = [&] {
    return word_search_single_pass(text, count_words_branchless(tables, text, 0, text.size()),
                                   [&](auto&& on_word) { scan_words(tables, text, on_word); });
  };
  const Pos p = whole_text_period(text);
  if (p == 0) return single_pass();
  const std::vector<Span> spans = period_spans(tables, text, p);
  // A last word that reaches the period's end and runs on into the next period makes the periods differ.
  if (spans.empty() || (spans.back().end == p && tables.BODY[byte_at(text, p)] != 0)) return single_pass();
  const std::optional<PyObject*> result = word_search_periodic(tables, text, p, spans);
  return result ? *result : single_pass();
}

// search_string of a str handed over unviewed: latin-1 units by the byte rule are searched as the bytes they are
// (every word is ASCII, so its bytes are its UTF-8), any other by the unit scan, counted first.
PyObject* word_search_units(const WordElement& w, PyObject* s) {
  const py::StrUnits units = py::str_units(s);
  if (units.kind == 1 && word_uses_byte_rule(w)) return search_words(w, units.as_bytes());
  const WordByteTables tables(w);
  const std::uint64_t count = count_word_units(tables, units);
  return with_word_unit_scan(tables, units, [&](auto&& scan) { return engine::unit_search_list(units, count, scan); });
}

PyObject* word_search_string(PyObject*, const Element& e, PyObject* s, std::string_view text) {
  const WordElement& w = as_word(e);
  if (engine::unviewed(text)) {
    if (word_uses_branch_free_rule(w)) return word_search_units(w, s);
    if (!py::extract_str_argument(s, text)) return nullptr;
  }
  return search_words(w, text);
}

}  // namespace

}  // namespace quillex::fastpaths

namespace quillex::engine {

const MethodBodies WORD_BODIES = {fastpaths::word_parse_string,    fastpaths::word_matches,
                                  fastpaths::word_search_string,   fastpaths::word_search_string_count,
                                  fastpaths::word_parse_batch,     fastpaths::word_parse_batch_count,
                                  fastpaths::word_transform_string,
                                  method_bit(Method::SearchString) | method_bit(Method::SearchStringCount) |
                                      method_bit(Method::TransformString)};

}  // namespace quillex::engine
