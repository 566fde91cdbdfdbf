// Python results made from match values.
#pragma once

#include "elements/element.h"
#include "py/pyref.h"

namespace quillex::engine {

// A new list of one new str per token, in order, created at its final length (equal tokens give separate str
// objects). nullptr with the interpreter's exception when the list cannot be created; std::bad_alloc when a
// str cannot be made (the list made so far is released).
[[nodiscard]] PyObject* new_token_list(const TokenList& tokens);
// The same from the views of a parse_into, made while the collector is paused: no Python code may run before
// every str is made (the views may point into elements that a collection's finalisers could free).
[[nodiscard]] PyObject* new_token_list(const TokenBuffer& tokens);

}  // namespace quillex::engine
