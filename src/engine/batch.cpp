#include "engine/batch.h"

#include "engine/routines.h"
#include "engine/tokens.h"

namespace quillex::engine {

PyObject* run_parse_batch(const Element& element, PyObject* inputs) {
  // One input's token list: the tokens of the match at 0 (the rest of the input is ignored), or a new empty
  // list when it fails.
  return build_batch_results(inputs, [&element](std::string_view text) -> PyObject* {
    ParseOutcome outcome = element.parse(text, 0);
    if (!outcome.ok) return PyList_New(0);
    return new_token_list(outcome.tokens);
  });
}

PyObject* run_parse_batch_count(const Element& element, PyObject* inputs) {
  return run_count_batch(inputs, [&element](std::string_view text) { return element.try_match_at(text, 0).matched; });
}

PyObject* run_parse_batch_count_inner(const Element& inner, PyObject* inputs) {
  return run_parse_batch_count(inner, inputs);
}

}  // namespace quillex::engine
