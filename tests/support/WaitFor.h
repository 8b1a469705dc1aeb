// Waiting on a condition with a generous deadline: a loaded machine makes a test slower, never
// wrong.
#pragma once

#include <chrono>
#include <thread>

namespace test_support {

// How long a test waits for something bound to happen; only a failing test pays for it.
inline constexpr std::chrono::seconds kPatience{30};

// Polls until the predicate holds or the timeout passes; returns the last result.
template <typename Predicate>
bool WaitFor(Predicate predicate, std::chrono::milliseconds timeout = kPatience) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace test_support
