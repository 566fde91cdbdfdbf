// The method frame: the one entry shape of the seven methods of every class (and Forward.set). An entry binds
// its arguments, checks and borrows the receiver, converts the parameters in order, runs the class's body from
// its class-method table (bodies.h), and releases the receiver on every path. A body that hit the recursion
// bound gives RecursionError instead of its result; one that could not have the memory it asked for
// (std::bad_alloc), MemoryError.
#pragma once

#include "classes.h"

namespace quillex::engine {

// The method records of class c (the seven methods, plus `set` for Forward), ending with the sentinel record.
// Static: the type object refers to them for the life of the process.
[[nodiscard]] PyMethodDef* class_method_records(ClassId c);

}  // namespace quillex::engine
