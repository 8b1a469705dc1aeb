// Events, threads, critical sections and the cross-process named mutex.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/system/Threads.h"
#include "support/PrivateRegistry.h"
#include "support/WaitFor.h"

namespace {

// Named mutexes live as lock files in the runtime directory.
class MutexTest : public ::testing::Test {
  test_support::PrivateRegistry registry_;
};

// Each signal releases one waiter and is used up by it; an event that woke them all at once
// would be left set by the later signals.
TEST(EventTest, AutoResetWakesOneWaiterPerSignalManualResetStaysSet) {
  UniqueHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  ASSERT_TRUE(event);
  constexpr int kWaiters = 4;
  constexpr DWORD kPatienceMs = 60000;
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(event.Get(), kPatienceMs) == WAIT_OBJECT_0) ++woken;
    });
  }
  for (int signal = 1; signal <= kWaiters; ++signal) {
    SetEvent(event.Get());
    EXPECT_TRUE(test_support::WaitFor([&] { return woken.load() >= signal; })) << signal;
  }
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(woken.load(), kWaiters);
  EXPECT_EQ(WaitForSingleObject(event.Get(), 0), WAIT_TIMEOUT);
  UniqueHandle other_event(CreateEventA(nullptr, TRUE, FALSE, nullptr));  // manual reset
  SetEvent(other_event.Get());
  SetEvent(other_event.Get());
  EXPECT_EQ(WaitForSingleObject(other_event.Get(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(other_event.Get(), 0), WAIT_OBJECT_0);
  ResetEvent(other_event.Get());
  EXPECT_EQ(WaitForSingleObject(other_event.Get(), 0), WAIT_TIMEOUT);
  UniqueHandle armed(CreateEventA(nullptr, FALSE, TRUE, nullptr));  // readable while set
  const int fd = GetEventDescriptor(armed.Get());
  ASSERT_GE(fd, 0);
  pollfd p{fd, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 1);
  EXPECT_EQ(WaitForSingleObject(armed.Get(), 0), WAIT_OBJECT_0);  // consumes the signal
  p.revents = 0;
  EXPECT_EQ(poll(&p, 1, 0), 0);
}

// Lower bounds only: a slow machine makes them pass more surely; they catch
// a wait that returns early and a clock that does not move.
TEST(EventTest, TimedWaitsLastTheirTimeAndBadHandlesFailWithAPerThreadError) {
  UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  const DWORD start = GetTickCount();
  EXPECT_EQ(WaitForSingleObject(event.Get(), 60), WAIT_TIMEOUT);
  EXPECT_GE(GetTickCount() - start, 55u);
  const DWORD first = GetTickCount();
  Sleep(20);
  EXPECT_GE(GetTickCount() - first, 15u);
  int not_a_handle = 0;
  EXPECT_EQ(WaitForSingleObject(&not_a_handle, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetEvent(nullptr));
  EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, "named"), nullptr);
  SetLastError(5);
  std::thread other([] {
    EXPECT_EQ(GetLastError(), 0u);
    SetLastError(9);
  });
  other.join();
  EXPECT_EQ(GetLastError(), 5u);
}

TEST(ThreadTest, SuspendedThreadRunsAfterResumeAndTerminateAbandonsAHangingOne) {
  static std::atomic<bool> ran{false};
  ran = false;
  DWORD id = 0;
  UniqueHandle thread(CreateThread(
      nullptr, 0x100000,
      [](LPVOID arg) -> DWORD {
        ran = true;
        return static_cast<DWORD>(reinterpret_cast<uintptr_t>(arg));
      },
      reinterpret_cast<LPVOID>(42), CREATE_SUSPENDED, &id));
  ASSERT_TRUE(thread);
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_EQ(GetThreadId(thread.Get()), id);
  EXPECT_EQ(WaitForSingleObject(thread.Get(), 30), WAIT_TIMEOUT);
  EXPECT_FALSE(ran.load());
  DWORD code = 0;
  GetExitCodeThread(thread.Get(), &code);
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_TRUE(SetThreadName(thread.Get(), "Lorveth_Agent:Thread_InitMib"));
  ResumeThread(thread.Get());
  EXPECT_EQ(WaitForSingleObject(thread.Get(), 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(ran.load());
  GetExitCodeThread(thread.Get(), &code);
  EXPECT_EQ(code, 42u);
  static std::atomic<bool> release{false};
  static std::atomic<bool> finished{false};
  release = false;
  finished = false;
  UniqueHandle other_thread(CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        while (!release) Sleep(5);
        finished = true;
        return 7;
      },
      nullptr, 0, nullptr));
  EXPECT_EQ(WaitForSingleObject(other_thread.Get(), 20), WAIT_TIMEOUT);
  EXPECT_TRUE(TerminateThread(other_thread.Get(), 0));
  EXPECT_EQ(WaitForSingleObject(other_thread.Get(), 0), WAIT_OBJECT_0);
  DWORD other_code = 1;
  GetExitCodeThread(other_thread.Get(), &other_code);
  EXPECT_EQ(other_code, 0u);
  other_thread.Reset();  // closing the handle while the other_thread runs is allowed
  release = true;
  EXPECT_TRUE(test_support::WaitFor([] { return finished.load(); }));
}

TEST_F(MutexTest, NamedMutexExcludesThreadsSharingOneHandle) {
  UniqueHandle mutex(CreateMutexA(nullptr, FALSE, "CFileDebug_C__t_a.log"));
  ASSERT_TRUE(mutex);
  ASSERT_EQ(WaitForSingleObject(mutex.Get(), 20), WAIT_OBJECT_0);
  ASSERT_EQ(WaitForSingleObject(mutex.Get(), 20), WAIT_OBJECT_0);  // recursive on one thread
  std::thread other([&] {
    EXPECT_EQ(WaitForSingleObject(mutex.Get(), 20), WAIT_TIMEOUT);
    EXPECT_FALSE(ReleaseMutex(mutex.Get()));  // not the owner
  });
  other.join();
  EXPECT_TRUE(ReleaseMutex(mutex.Get()));
  EXPECT_TRUE(ReleaseMutex(mutex.Get()));
  EXPECT_FALSE(ReleaseMutex(mutex.Get()));
}

// The trace file's mutex is shared between processes, and a process killed
// while holding it must not block the others for good.
TEST_F(MutexTest, NamedMutexExcludesASecondProcessAndIsFreedWhenItsHolderIsKilled) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HANDLE held = CreateMutexA(nullptr, FALSE, "shared-lock");
    if (held == nullptr || WaitForSingleObject(held, 1000) != WAIT_OBJECT_0) _exit(1);
    (void)!write(ready[1], "x", 1);
    for (;;) pause();
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  UniqueHandle mutex(CreateMutexA(nullptr, FALSE, "shared-lock"));
  ASSERT_TRUE(mutex);
  EXPECT_EQ(WaitForSingleObject(mutex.Get(), 50), WAIT_TIMEOUT);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(WaitForSingleObject(mutex.Get(), 60000), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex.Get()));
  close(ready[0]);
  close(ready[1]);
}

}  // namespace
