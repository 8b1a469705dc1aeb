// The timer queue that drives polling: rules and reports due at a time run on
// the scheduler's one thread, in due order, and work posted from other threads
// (an asynchronous read that finished) runs there too, so that the engine's and
// the recorder's state is only ever touched by that thread.
//
//   Scheduler scheduler(clock);
//   scheduler.Start();
//   scheduler.At(clock.NowMs() + 10'000, [] { ... poll ... });
//   scheduler.Post([] { ... a read finished ... });
//
// Tests do not Start it: they advance a fake clock and call RunDue().
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "services/switchd/Monitoring.h"

namespace switchd {

class Scheduler {
 public:
  using TaskId = uint64_t;

  explicit Scheduler(const Clock& clock) : clock_(clock) {}
  ~Scheduler() { Stop(); }
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  // Runs the queue on a thread of its own until Stop.
  void Start();
  // Ends the thread; what is still queued is dropped.  Safe to call twice.
  void Stop();

  // Runs `task` on the scheduler's thread once the clock reaches `due_ms`
  // (Clock::NowMs).  Tasks due at the same time run in the order queued.
  TaskId At(int64_t due_ms, std::function<void()> task);
  // Forgets a task that has not run yet; false when it ran or was never queued.
  bool Cancel(TaskId id);
  // Runs `task` on the scheduler's thread as soon as it is free.
  void Post(std::function<void()> task);

  // Runs every task due now on the calling thread (posted ones first) and
  // returns how many ran.  For tests, on a scheduler that was not started.
  size_t RunDue();

  // Whether the caller is the scheduler's thread (or RunDue's caller).
  bool OnSchedulerThread() const { return std::this_thread::get_id() == runner_; }

 private:
  // The tasks ready now, taken out of the queue under the lock.
  std::vector<std::function<void()>> TakeDue(int64_t now_ms);
  void Loop();

  const Clock& clock_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::multimap<int64_t, std::pair<TaskId, std::function<void()>>> timed_;
  std::vector<std::function<void()>> posted_;
  TaskId next_id_ = 1;
  bool stopping_ = false;
  std::thread thread_;
  std::thread::id runner_;
};

}  // namespace switchd
