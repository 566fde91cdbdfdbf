// Methods of Char and of the constant and positional classes. matches, search_string_count and (but for
// rest_of_line) parse_batch_count compute their answer in place, by the element's rule written out over the
// bytes: no operation is called and nothing is allocated. They give exactly what try_match_at at 0, the scan
// rule over try_match_at and the common batch count would give. The other methods run the common routines.
#include <algorithm>
#include <cstring>

#include "elements/literals.h"
#include "elements/positional.h"
#include "engine/batch.h"
#include "engine/bodies.h"
#include "py/errors.h"

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

PyObject* empty_count(PyObject*, const Element&, PyObject*, std::string_view text) { return count_result(text.size()); }
PyObject* char_count(PyObject*, const Element& e, PyObject*, std::string_view text) {
  return count_result(count_char_matches(as_char(e), text));
}
PyObject* line_end_count(PyObject*, const Element&, PyObject*, std::string_view text) {
  return count_result(count_newlines(text));
}
PyObject* zero_count(PyObject*, const Element&, PyObject*, std::string_view) { return count_result(0); }
// A final newline opens no counted line: position L is never tried.
PyObject* line_start_count(PyObject*, const Element&, PyObject*, std::string_view text) {
  return count_result(text.empty() ? 0 : 1 + count_newlines(text.substr(0, text.size() - 1)));
}
PyObject* string_start_count(PyObject*, const Element&, PyObject*, std::string_view text) {
  return count_result(text.empty() ? 0 : 1);
}
PyObject* rest_of_line_count(PyObject*, const Element&, PyObject*, std::string_view text) {
  return count_result(count_rest_of_line_matches(text));
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

constexpr MethodBodies bodies(TextBody matches, TextBody count, BatchBody batch_count) {
  return {common_parse_string, matches,     common_search_string, count, common_parse_batch,
          batch_count,         common_transform_string};
}

}  // namespace

const MethodBodies CHAR_BODIES = bodies(char_matches, char_count, char_batch_count);
const MethodBodies EMPTY_BODIES = bodies(true_matches, empty_count, true_batch_count);
const MethodBodies NO_MATCH_BODIES = bodies(false_matches, zero_count, false_batch_count);
const MethodBodies LINE_START_BODIES = bodies(true_matches, line_start_count, true_batch_count);
const MethodBodies LINE_END_BODIES = bodies(line_end_matches, line_end_count, line_end_batch_count);
const MethodBodies STRING_START_BODIES = bodies(true_matches, string_start_count, true_batch_count);
const MethodBodies STRING_END_BODIES = bodies(string_end_matches, zero_count, string_end_batch_count);
const MethodBodies REST_OF_LINE_BODIES = bodies(true_matches, rest_of_line_count, common_parse_batch_count);

}  // namespace quillex::engine
