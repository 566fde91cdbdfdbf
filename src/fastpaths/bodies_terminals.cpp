// Class-method tables of the terminal classes.
#include "engine/bodies.h"

namespace quillex::engine {

const MethodBodies REGEX_BODIES = COMMON_BODIES;
const MethodBodies CASELESS_LITERAL_BODIES = COMMON_BODIES;
const MethodBodies CASELESS_KEYWORD_BODIES = COMMON_BODIES;
const MethodBodies QUOTED_STRING_BODIES = COMMON_BODIES;

}  // namespace quillex::engine
