// Class-method tables of Char and the positional and constant classes.
#include "engine/bodies.h"

namespace quillex::engine {

const MethodBodies CHAR_BODIES = COMMON_BODIES;
const MethodBodies EMPTY_BODIES = COMMON_BODIES;
const MethodBodies NO_MATCH_BODIES = COMMON_BODIES;
const MethodBodies LINE_START_BODIES = COMMON_BODIES;
const MethodBodies LINE_END_BODIES = COMMON_BODIES;
const MethodBodies STRING_START_BODIES = COMMON_BODIES;
const MethodBodies STRING_END_BODIES = COMMON_BODIES;
const MethodBodies REST_OF_LINE_BODIES = COMMON_BODIES;

}  // namespace quillex::engine
