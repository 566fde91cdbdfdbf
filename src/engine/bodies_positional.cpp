// Methods of Char and of the constant and positional classes. matches, search_string_count and (but for
// rest_of_line) parse_batch_count compute their answer in place, by the element's rule written out over the
// bytes: no operation is called and nothing is allocated. They give exactly what try_match_at at 0, the scan
// rule over try_match_at and the common batch count would give. The other methods run the common routines. A
// non-ASCII str whose UTF-8 form is not at hand is counted, searched and transformed in its own units instead.
#include <algorithm>
#include <cstring>
#include <vector>

#include "elements/literals.h"
#include "elements/positional.h"
#include "engine/batch.h"
#include "engine/bodies.h"
#include "engine/unit_results.h"
#include "py/errors.h"
#include "py/str_units.h"

namespace quillex::engine {

namespace {

std::uint64_t count_newlines(std::string_view text) noexcept {
  return static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
}

// The matches rule of each class: try_match_at at 0, written out.
struct CharRule {
  const CharElement& element;
  bool operator()(std::string_view text) const noexcept { return element.match_len(text, 0) != 0; }
};
bool always(std::string_view) noexcept { return true; }
bool never(std::string_view) noexcept { return false; }
bool line_end_at_start(std::string_view text) noexcept { return text.empty() || text[0] == '\n'; }
bool string_end_at_start(std::string_view text) noexcept { return text.empty(); }

PyObject* new_bool(bool b) { return Py_NewRef(b ? Py_True : Py_False); }

const CharElement& as_char(const Element& e) noexcept { return static_cast<const CharElement&>(e); }

// The scan rule over Char's try_match_at: a member character is counted and skipped whole, any other byte is
// stepped over. For an ASCII-only set a match is exactly a member byte, so the count is the table summed over
// the bytes.
std::uint64_t count_char_matches(const CharElement& element, std::string_view text) noexcept {
  std::uint64_t count = 0;
  if (element.ascii_only()) {
    const ByteTable& members = element.members();
    for (unsigned char b : text) count += members[b];
    return count;
  }
  for (Pos pos = 0; pos < text.size();) {
    const unsigned n = element.match_len(text, pos);
    count += n != 0;
    pos += n != 0 ? n : 1;
  }
  return count;
}

// The scan rule over rest_of_line's try_match_at: one match per stretch up to a newline, and one zero-length
// match at each newline (the scan then steps over it). It only ever visits position 0, newlines and positions
// just after one, all character boundaries.
std::uint64_t count_rest_of_line_matches(std::string_view text) noexcept {
  std::uint64_t count = 0;
  for (Pos pos = 0; pos < text.size();) {
    const Pos end = find_newline(text, pos);
    ++count;
    pos = std::max(pos + 1, end);
  }
  return count;
}

// ---------------------------------------------------------------------------------------------------------------
// The same rules over a str's own units (a non-ASCII str handed over unviewed), positions in code points. Every
// position these rules visit is a character boundary (a newline is the unit 0x0A, a Char member one code
// point), so their matches are the UTF-8 route's; a count of zero-length matches at every byte position is the
// UTF-8 length. Each runs body(t, n) over the units as their integer type.

template <class Body>
decltype(auto) with_units(const py::StrUnits& units, Body&& body) {
  return py::by_unit(units.kind, [&](auto unit) {
    return body(reinterpret_cast<const py::unit_t<unit()>*>(units.data), units.length);
  });
}

// The classes with non-empty matches, for the bodies of engine/unit_results.h.

// LineEnd: the newlines, as spans of one code point.
struct LineEndUnits {
  static PyObject* scan(const Element&, const py::StrUnits& units, auto&& body) {
    return body([&units](auto&& on_span) {
      with_units(units, [&](const auto* t, std::size_t n) {
        for (std::size_t p = py::find_unit(t, n, 0, '\n'); p < n; p = py::find_unit(t, n, p + 1, '\n')) {
          on_span(p, p + 1);
        }
      });
      return true;
    });
  }
  static Py_UCS4 span_max(const Element&) { return 0x7F; }
};

// rest_of_line: the stretches between newlines (count_rest_of_line_matches's walk; the zero-length matches at
// the newlines are left out).
struct RestOfLineUnits {
  static PyObject* scan(const Element&, const py::StrUnits& units, auto&& body) {
    return body([&units](auto&& on_span) {
      with_units(units, [&](const auto* t, std::size_t n) {
        for (std::size_t p = 0; p < n;) {
          const std::size_t end = py::find_unit(t, n, p, '\n');
          if (end > p) on_span(p, end);
          p = std::max(p + 1, end);
        }
      });
      return true;
    });
  }
  static Py_UCS4 span_max(const Element&) { return 0x10FFFF; }
};

// Char: an ASCII code point is a member by the element's table, any other by its UTF-8 bytes among the wide
// members (decoded into sorted code points).
struct CharUnits {
  static PyObject* scan(const Element& e, const py::StrUnits& units, auto&& body) {
    const CharElement& element = as_char(e);
    std::vector<std::uint32_t> wide;
    for (const std::uint32_t packed : element.wide_members()) wide.push_back(code_point_of(packed));
    std::sort(wide.begin(), wide.end());
    const auto member = [&](std::uint32_t c) {
      if (c < 0x80) return element.members()[c] == CharElement::CHAR_ASCII;
      return !wide.empty() && std::binary_search(wide.begin(), wide.end(), c);
    };
    return body([&](auto&& on_span) {
      with_units(units, [&](const auto* t, std::size_t n) {
        for (std::size_t p = 0; p < n; ++p) {
          if (member(t[p])) on_span(p, p + 1);
        }
      });
      return true;
    });
  }
  // Packed UTF-8 keys sort as their code points do: the widest member is the last key's.
  static Py_UCS4 span_max(const Element& e) {
    const std::vector<std::uint32_t>& wide = as_char(e).wide_members();
    return wide.empty() ? 0x7F : py::max_char_of_class(code_point_of(wide.back()));
  }
  // The code point of a wide member's UTF-8 bytes packed big-endian.
  static std::uint32_t code_point_of(std::uint32_t packed) noexcept {
    char bytes[4] = {};
    unsigned n = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
      if (const auto b = static_cast<char>(packed >> shift); n != 0 || b != 0) bytes[n++] = b;
    }
    std::size_t at = 0;
    return py::next_code_point({bytes, n}, at);
  }
};

// An ASCII-only set counts the table over the units, as count_char_matches does over bytes.
PyObject* count_char_units(const CharElement& element, PyObject* s) {
  if (!element.ascii_only()) {
    return unit_count(s, [&element](const py::StrUnits& units, auto&& body) {
      return CharUnits::scan(element, units, body);
    });
  }
  const ByteTable& members = element.members();
  return py::new_count_or_die(with_units(py::str_units(s), [&members](const auto* t, std::size_t n) {
    std::uint64_t count = 0;
    for (std::size_t p = 0; p < n; ++p) count += static_cast<unsigned>(t[p] < 0x80) & members[t[p] & 0x7F];
    return count;
  }));
}

// ---------------------------------------------------------------------------------------------------------------
// matches

PyObject* char_matches(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return new_bool(CharRule{as_char(e)}(text));
}
PyObject* true_matches(PyObject*, const Element&, PyObject*, std::string_view) { return new_bool(true); }
PyObject* false_matches(PyObject*, const Element&, PyObject*, std::string_view) { return new_bool(false); }
PyObject* line_end_matches(PyObject*, const Element&, PyObject*, std::string_view text) {
  return new_bool(line_end_at_start(text));
}
PyObject* string_end_matches(PyObject*, const Element&, PyObject*, std::string_view text) {
  return new_bool(string_end_at_start(text));
}

// ---------------------------------------------------------------------------------------------------------------
// search_string_count: the matches the scan over positions 0 to L - 1 finds, zero-length ones included.

PyObject* count_result(std::uint64_t n) { return py::new_count_or_die(n); }

PyObject* empty_count(PyObject*, const Element&, PyObject* s, std::string_view text) {
  return count_result(unviewed(text) ? py::utf8_length(py::str_units(s)) : text.size());
}
PyObject* char_count(PyObject*, const Element& e, PyObject* s, std::string_view text) {
  if (unviewed(text)) return count_char_units(as_char(e), s);
  return count_result(count_char_matches(as_char(e), text));
}
PyObject* line_end_count(PyObject*, const Element&, PyObject* s, std::string_view text) {
  if (unviewed(text)) return count_result(with_units(py::str_units(s), [](const auto* t, std::size_t n) {
    return py::count_unit(t, n, '\n');
  }));
  return count_result(count_newlines(text));
}
PyObject* zero_count(PyObject*, const Element&, PyObject*, std::string_view) { return count_result(0); }
// A final newline opens no counted line: position L is never tried. An unviewed str is never empty.
PyObject* line_start_count(PyObject*, const Element&, PyObject* s, std::string_view text) {
  if (unviewed(text)) return count_result(with_units(py::str_units(s), [](const auto* t, std::size_t n) {
    return 1 + py::count_unit(t, n - 1, '\n');
  }));
  return count_result(text.empty() ? 0 : 1 + count_newlines(text.substr(0, text.size() - 1)));
}
PyObject* string_start_count(PyObject*, const Element&, PyObject*, std::string_view text) {
  return count_result(unviewed(text) || !text.empty() ? 1 : 0);
}
PyObject* rest_of_line_count(PyObject*, const Element&, PyObject* s, std::string_view text) {
  if (unviewed(text)) return count_result(with_units(py::str_units(s), [](const auto* t, std::size_t n) {
    std::uint64_t count = 0;  // count_rest_of_line_matches's walk
    for (std::size_t p = 0; p < n; p = std::max(p + 1, py::find_unit(t, n, p, '\n'))) ++count;
    return count;
  }));
  return count_result(count_rest_of_line_matches(text));
}

// ---------------------------------------------------------------------------------------------------------------
// search_string and transform_string: the common routines over a UTF-8 view; over units, the classes whose
// matches all have zero length find no token and replace nothing.

PyObject* no_token_search(PyObject* self, const Element& e, PyObject* s, std::string_view text) {
  if (unviewed(text)) return py::new_empty_list_or_die();
  return common_search_string(self, e, s, text);
}
PyObject* no_replacement_transform(PyObject* self, const Element& e, PyObject* s, std::string_view text,
                                   PyObject* replacement_obj, std::string_view replacement) {
  if (unviewed(text)) return new_str_copy(s);
  return common_transform_string(self, e, s, text, replacement_obj, replacement);
}

// ---------------------------------------------------------------------------------------------------------------
// parse_batch_count: the common count's shortcuts with the matches rule as the verdict. Every evaluated item's
// text is read, also where the verdict does not depend on it, so a bad item is reported as the common routine
// reports it.

PyObject* char_batch_count(PyObject*, const Element& e, PyObject* inputs) {
  return run_count_batch(inputs, CharRule{as_char(e)});
}
PyObject* true_batch_count(PyObject*, const Element&, PyObject* inputs) { return run_count_batch(inputs, always); }
PyObject* false_batch_count(PyObject*, const Element&, PyObject* inputs) { return run_count_batch(inputs, never); }
PyObject* line_end_batch_count(PyObject*, const Element&, PyObject* inputs) {
  return run_count_batch(inputs, line_end_at_start);
}
PyObject* string_end_batch_count(PyObject*, const Element&, PyObject* inputs) {
  return run_count_batch(inputs, string_end_at_start);
}

constexpr std::uint8_t UNIT_METHODS =
    method_bit(Method::SearchString) | method_bit(Method::SearchStringCount) | method_bit(Method::TransformString);

// A class whose matches all have zero length (or that never matches).
constexpr MethodBodies bodies(TextBody matches, TextBody count, BatchBody batch_count) {
  return {common_parse_string,  matches, no_token_search, count, common_parse_batch, batch_count,
          no_replacement_transform, UNIT_METHODS};
}
constexpr MethodBodies bodies(TextBody matches, TextBody search, TextBody count, BatchBody batch_count,
                              TransformBody transform) {
  return {common_parse_string, matches, search, count, common_parse_batch, batch_count, transform, UNIT_METHODS};
}

}  // namespace

const MethodBodies CHAR_BODIES = bodies(char_matches, unit_search_body<CharUnits>, char_count, char_batch_count,
                                        unit_transform_body<CharUnits>);
const MethodBodies EMPTY_BODIES = bodies(true_matches, empty_count, true_batch_count);
const MethodBodies NO_MATCH_BODIES = bodies(false_matches, zero_count, false_batch_count);
const MethodBodies LINE_START_BODIES = bodies(true_matches, line_start_count, true_batch_count);
const MethodBodies LINE_END_BODIES = bodies(line_end_matches, unit_search_body<LineEndUnits>, line_end_count,
                                            line_end_batch_count, unit_transform_body<LineEndUnits>);
const MethodBodies STRING_START_BODIES = bodies(true_matches, string_start_count, true_batch_count);
const MethodBodies STRING_END_BODIES = bodies(string_end_matches, zero_count, string_end_batch_count);
const MethodBodies REST_OF_LINE_BODIES = bodies(true_matches, unit_search_body<RestOfLineUnits>, rest_of_line_count,
                                                common_parse_batch_count, unit_transform_body<RestOfLineUnits>);

}  // namespace quillex::engine
