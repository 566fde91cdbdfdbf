#include "engine/batch.h"

#include "engine/routines.h"
#include "engine/tokens.h"

namespace quillex::engine {

PyObject* run_parse_batch(const Element& element, PyObject* inputs) {
  // One input's token list: the tokens of the match at 0 (the rest of the input is ignored), or a new empty
  // list when it fails. The parse path keeps the tokens as views in one buffer for the whole batch, emptied
  // before each input, so an input costs no allocation but its result's.
  TokenBuffer tokens;
  return build_batch_results(inputs, [&element, &tokens](std::string_view text) -> PyObject* {
    tokens.truncate(0);
    const MatchResult m = element.parse_into(text, 0, tokens);
    if (recursion_overflowed()) return nullptr;  // the batch step raises RecursionError; no object is made first
    if (!m.matched) return PyList_New(0);
    return new_token_list(tokens);
  });
}

PyObject* run_parse_batch_count(const Element& element, PyObject* inputs) {
  return run_count_batch(inputs, [&element](std::string_view text) { return element.try_match_at(text, 0).matched; });
}

PyObject* run_parse_batch_count_inner(const Element& inner, PyObject* inputs) {
  return run_parse_batch_count(inner, inputs);
}

}  // namespace quillex::engine
