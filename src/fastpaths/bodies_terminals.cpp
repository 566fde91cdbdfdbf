// Class-method tables of the terminal classes.
#include "engine/bodies.h"

namespace quillex::engine {

const MethodBodies LITERAL_BODIES = COMMON_BODIES;
const MethodBodies KEYWORD_BODIES = COMMON_BODIES;

}  // namespace quillex::engine
