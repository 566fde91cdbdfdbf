// CollectorPause: the garbage collector held off for a scope, so that allocating a tracked object (a list) there
// cannot start a collection whose finalisers run arbitrary Python code. Restores the collector's previous state.
#pragma once

#include "py/pyref.h"

namespace quillex::py {

class [[nodiscard]] CollectorPause {
 public:
  CollectorPause() noexcept : was_enabled_(PyGC_Disable() != 0) {}
  ~CollectorPause() {
    if (was_enabled_) PyGC_Enable();
  }
  CollectorPause(const CollectorPause&) = delete;
  CollectorPause& operator=(const CollectorPause&) = delete;

 private:
  bool was_enabled_;
};

}  // namespace quillex::py
