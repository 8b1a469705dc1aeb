// Temporary directories of one test, fresh under $TMPDIR (or /tmp): runs never share a path.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace test_support {

// A new, empty directory `prefix` plus a random suffix; throws rather than share a place.
inline std::string MakeTempDirectory(const std::string& prefix = "lorveth-test") {
  const char* base = getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + prefix + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary directory from " + pattern);
  }
  return pattern;
}

class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "lorveth-test") : path_(MakeTempDirectory(prefix)) {}
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace test_support
