// Points this process's registry store and runtime directory at a fresh
// temporary directory while it lives.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

#include "support/TempDir.h"

namespace test_support {

class PrivateRegistry {
 public:
  PrivateRegistry() {
    root_ = MakeTempDirectory("lorveth-registry");
    Replace("LORVETH_STATE_DIR", root_ + "/state", &old_state_);
    Replace("LORVETH_RUNTIME_DIR", root_ + "/run", &old_runtime_);
  }
  ~PrivateRegistry() {
    Restore("LORVETH_STATE_DIR", old_state_);
    Restore("LORVETH_RUNTIME_DIR", old_runtime_);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  PrivateRegistry(const PrivateRegistry&) = delete;
  PrivateRegistry& operator=(const PrivateRegistry&) = delete;

  const std::string& Root() const { return root_; }

 private:
  static void Replace(const char* name, const std::string& value,
                      std::optional<std::string>* old) {
    if (const char* current = getenv(name)) *old = current;
    setenv(name, value.c_str(), 1);
  }
  static void Restore(const char* name, const std::optional<std::string>& old) {
    if (old) {
      setenv(name, old->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }

  std::string root_;
  std::optional<std::string> old_state_;
  std::optional<std::string> old_runtime_;
};

}  // namespace test_support
