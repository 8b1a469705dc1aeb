// A registry of its own for each test: fresh state and runtime directories
// named by the environment, removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "support/TempDir.h"

class RegistryFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = test_support::MakeTempDirectory("lorveth-registry");
    state_dir_ = root_ + "/state";
    runtime_dir_ = root_ + "/run";
    setenv("LORVETH_STATE_DIR", state_dir_.c_str(), 1);
    setenv("LORVETH_RUNTIME_DIR", runtime_dir_.c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  std::string root_;
  std::string state_dir_;
  std::string runtime_dir_;
};
