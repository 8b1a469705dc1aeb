// Points this process's registry store and runtime directory at a fresh
// temporary directory while it lives.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>

#include "support/TempDir.h"

namespace test_support {

class PrivateRegistry {
 public:
  PrivateRegistry() {
    for (auto& [name, old] : saved_) {
      if (const char* current = getenv(name)) old = current;
    }
    setenv("LORVETH_STATE_DIR", (Root() + "/state").c_str(), 1);
    setenv("LORVETH_RUNTIME_DIR", (Root() + "/run").c_str(), 1);
  }
  ~PrivateRegistry() {
    for (const auto& [name, old] : saved_) {
      if (old) setenv(name, old->c_str(), 1);
      if (!old) unsetenv(name);
    }
  }
  PrivateRegistry(const PrivateRegistry&) = delete;
  PrivateRegistry& operator=(const PrivateRegistry&) = delete;

  const std::string& Root() const { return dir_.path(); }

 private:
  TempDir dir_{"lorveth-registry"};
  std::pair<const char*, std::optional<std::string>> saved_[2] = {{"LORVETH_STATE_DIR", {}},
                                                                  {"LORVETH_RUNTIME_DIR", {}}};
};

}  // namespace test_support
