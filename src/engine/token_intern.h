// TokenInternMap: within one call, equal matched texts share one str object.
#pragma once

#include <string_view>

#include "absl/container/flat_hash_map.h"
#include "py/errors.h"
#include "py/pyref.h"

namespace quillex::engine {

// Keys are views into the call's text (never copied), so the map must not outlive the text it was fed. It holds
// one reference to each str it made and releases them when it dies. Starts without storage; the first text
// entered allocates. Hash and iteration order are never visible.
class TokenInternMap {
 public:
  TokenInternMap() = default;
  TokenInternMap(const TokenInternMap&) = delete;
  TokenInternMap& operator=(const TokenInternMap&) = delete;
  ~TokenInternMap() {
    for (auto& entry : map_) Py_XDECREF(entry.second);  // null: its str could not be made
  }

  // A new reference to the one str for `text`, made the first time this text is asked for. std::bad_alloc when
  // the entry or the str cannot be had (the texts come from a valid str and are cut on character boundaries,
  // so nothing else can fail).
  [[nodiscard]] PyObject* get_or_create(std::string_view text) {
    auto [it, inserted] = map_.try_emplace(text, nullptr);
    if (inserted) it->second = py::new_str_or_throw(text);
    Py_INCREF(it->second);
    return it->second;
  }

  std::size_t size() const noexcept { return map_.size(); }

 private:
  absl::flat_hash_map<std::string_view, PyObject*> map_;
};

}  // namespace quillex::engine
