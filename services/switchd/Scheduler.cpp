// The polling timer queue: one thread, tasks in due order.
#include "services/switchd/Scheduler.h"

#include <chrono>

namespace switchd {

void Scheduler::Start() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { Loop(); });
}

void Scheduler::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  std::lock_guard lock(mutex_);
  timed_.clear();
  posted_.clear();
}

Scheduler::TaskId Scheduler::At(int64_t due_ms, std::function<void()> task) {
  TaskId id;
  {
    std::lock_guard lock(mutex_);
    id = next_id_++;
    timed_.emplace(due_ms, std::make_pair(id, std::move(task)));
  }
  wake_.notify_all();
  return id;
}

bool Scheduler::Cancel(TaskId id) {
  std::lock_guard lock(mutex_);
  for (auto it = timed_.begin(); it != timed_.end(); ++it) {
    if (it->second.first == id) {
      timed_.erase(it);
      return true;
    }
  }
  return false;
}

void Scheduler::Post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(std::move(task));
  }
  wake_.notify_all();
}

std::vector<std::function<void()>> Scheduler::TakeDue(int64_t now_ms) {
  std::vector<std::function<void()>> due = std::move(posted_);
  posted_.clear();
  const auto end = timed_.upper_bound(now_ms);
  for (auto it = timed_.begin(); it != end; ++it) due.push_back(std::move(it->second.second));
  timed_.erase(timed_.begin(), end);
  return due;
}

size_t Scheduler::RunDue() {
  runner_ = std::this_thread::get_id();
  size_t ran = 0;
  // A task may queue more work that is already due: run until nothing is.
  for (;;) {
    std::vector<std::function<void()>> due;
    {
      std::lock_guard lock(mutex_);
      due = TakeDue(clock_.NowMs());
    }
    if (due.empty()) return ran;
    for (auto& task : due) task();
    ran += due.size();
  }
}

void Scheduler::Loop() {
  runner_ = std::this_thread::get_id();
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    const int64_t now = clock_.NowMs();
    std::vector<std::function<void()>> due = TakeDue(now);
    if (!due.empty()) {
      lock.unlock();
      for (auto& task : due) task();
      lock.lock();
      continue;
    }
    if (timed_.empty()) {
      wake_.wait(lock, [this] { return stopping_ || !posted_.empty() || !timed_.empty(); });
    } else {
      // The clock is monotonic milliseconds: wait for the gap, or for new work.
      const int64_t gap = timed_.begin()->first - now;
      wake_.wait_for(lock, std::chrono::milliseconds(gap));
    }
  }
}

}  // namespace switchd
