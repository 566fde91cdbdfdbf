// Class-method tables of the combinator and wrapper classes.
#include "engine/bodies.h"

namespace quillex::engine {

const MethodBodies AND_BODIES = COMMON_BODIES;
const MethodBodies MATCH_FIRST_BODIES = COMMON_BODIES;
const MethodBodies OPTIONAL_BODIES = COMMON_BODIES;
const MethodBodies ZERO_OR_MORE_BODIES = COMMON_BODIES;
const MethodBodies ONE_OR_MORE_BODIES = COMMON_BODIES;
const MethodBodies EXACTLY_BODIES = COMMON_BODIES;
const MethodBodies GROUP_BODIES = COMMON_BODIES;
const MethodBodies SUPPRESS_BODIES = COMMON_BODIES;
const MethodBodies COMBINE_BODIES = COMMON_BODIES;
const MethodBodies SKIP_TO_BODIES = COMMON_BODIES;
const MethodBodies FORWARD_BODIES = COMMON_BODIES;

}  // namespace quillex::engine
