// Threads, events, mutexes and waits on POSIX threads, eventfd and flock.
#include "platform/system/Threads.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/system/Paths.h"

namespace {

thread_local DWORD t_last_error = 0;

using Clock = std::chrono::steady_clock;

// Remaining milliseconds until a deadline, for poll(): -1 waits forever.
int RemainingMs(bool infinite, Clock::time_point deadline) {
  if (infinite) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return 0;
  return left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
}

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  virtual DWORD Wait(DWORD milliseconds) = 0;
};

// What a HANDLE points to.  The magic word lets calls refuse pointers that are
// not handles of ours instead of crashing on them.
//
// A handle may cross into another copy of this library: an extension agent
// links its own hidden copy, and the SNMP service waits on and polls the
// agent's trap event.  The C++ types of one copy are foreign to the other, so
// what a foreign copy needs is plain data: the event's descriptor, and a wait
// function of the copy that created the handle.
struct HandleBox {
  static constexpr uint32_t kMagic = 0x4C48444Eu;  // "LHDN"
  uint32_t magic = kMagic;
  int descriptor = -1;
  DWORD (*wait)(HandleBox* box, DWORD milliseconds) = nullptr;
  std::shared_ptr<KernelObject> object;
};

DWORD WaitOnBox(HandleBox* box, DWORD milliseconds) { return box->object->Wait(milliseconds); }

template <typename T>
T* Lookup(HANDLE handle) {
  auto* box = static_cast<HandleBox*>(handle);
  if (box == nullptr || box->magic != HandleBox::kMagic) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto* object = dynamic_cast<T*>(box->object.get());
  if (object == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return object;
}

HANDLE MakeHandle(std::shared_ptr<KernelObject> object) {
  auto* box = new HandleBox;
  box->wait = WaitOnBox;
  box->object = std::move(object);
  return box;
}

class Event final : public KernelObject {
 public:
  Event(bool manual_reset, int fd) : manual_reset_(manual_reset), fd_(fd) {}
  ~Event() override { close(fd_); }

  void Set() {
    std::lock_guard lock(mutex_);
    if (set_) return;
    set_ = true;
    const uint64_t one = 1;
    (void)!write(fd_, &one, sizeof one);
  }

  void Reset() {
    std::lock_guard lock(mutex_);
    ClearLocked();
  }

  DWORD Wait(DWORD milliseconds) override {
    const bool infinite = milliseconds == INFINITE;
    const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : milliseconds);
    for (;;) {
      {
        std::lock_guard lock(mutex_);
        if (set_) {
          // An auto-reset event releases exactly one waiter: the first one to
          // find it set under the lock takes the signal.
          if (!manual_reset_) ClearLocked();
          return WAIT_OBJECT_0;
        }
      }
      const int timeout = RemainingMs(infinite, deadline);
      if (timeout == 0 && !infinite) {
        std::lock_guard lock(mutex_);
        if (set_) continue;
        return WAIT_TIMEOUT;
      }
      pollfd p{fd_, POLLIN, 0};
      const int rc = poll(&p, 1, timeout);
      if (rc < 0 && errno != EINTR) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
      }
    }
  }

  int Descriptor() const { return fd_; }

 private:
  void ClearLocked() {
    if (!set_) return;
    set_ = false;
    uint64_t value = 0;
    (void)!read(fd_, &value, sizeof value);
  }

  const bool manual_reset_;
  const int fd_;
  std::mutex mutex_;
  bool set_ = false;
};

// A worker thread.  Waiting for it means waiting until it has really ended,
// not only until its procedure returned: the thread is joined, so once a wait
// succeeds the thread runs no more code of the library that started it, and
// that library may be unloaded (as after a successful wait on Windows).
class Thread final : public KernelObject {
 public:
  ~Thread() override {
    // The last reference may go on the thread itself or long after it ended;
    // an unjoined thread is left to clean up after itself.
    std::lock_guard lock(join_mutex_);
    if (!joined_ && !detached_) pthread_detach(pthread_);
  }

  DWORD Wait(DWORD milliseconds) override {
    bool abandoned = false;
    {
      std::unique_lock lock(mutex_);
      if (milliseconds == INFINITE) {
        done_cv_.wait(lock, [this] { return done_; });
      } else if (!done_cv_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                    [this] { return done_; })) {
        return WAIT_TIMEOUT;
      }
      abandoned = abandoned_;
    }
    if (!abandoned) Join();
    return WAIT_OBJECT_0;
  }

  static void* Run(void* raw) {
    // The thread keeps its own reference: its handle may be closed while it runs.
    std::shared_ptr<Thread> self(*static_cast<std::shared_ptr<Thread>*>(raw));
    delete static_cast<std::shared_ptr<Thread>*>(raw);
    {
      std::unique_lock lock(self->mutex_);
      self->id_ = static_cast<DWORD>(syscall(SYS_gettid));
      self->started_cv_.notify_all();
      self->started_cv_.wait(lock, [&] { return self->resumed_; });
    }
    const DWORD code = self->start_(self->parameter_);
    self->Finish(code, false);
    return nullptr;
  }

  // Records the end of the thread.  An abandoned thread (TerminateThread)
  // counts as ended at once and is detached: it may still be running.
  void Finish(DWORD code, bool abandon) {
    {
      std::lock_guard lock(mutex_);
      if (done_) return;  // already abandoned by TerminateThread
      exit_code_ = code;
      done_ = true;
      abandoned_ = abandon;
      done_cv_.notify_all();
    }
    if (abandon) {
      std::lock_guard lock(join_mutex_);
      if (!joined_ && !detached_) {
        pthread_detach(pthread_);
        detached_ = true;
      }
    }
  }

  DWORD Resume() {
    std::lock_guard lock(mutex_);
    const DWORD previous = resumed_ ? 0 : 1;
    resumed_ = true;
    started_cv_.notify_all();
    return previous;
  }

  void WaitForId() {
    std::unique_lock lock(mutex_);
    started_cv_.wait(lock, [this] { return id_ != 0; });
  }

  DWORD ExitCode() {
    std::lock_guard lock(mutex_);
    return done_ ? exit_code_ : STILL_ACTIVE;
  }

  DWORD Id() {
    std::lock_guard lock(mutex_);
    return id_;
  }

  LPTHREAD_START_ROUTINE start_ = nullptr;
  LPVOID parameter_ = nullptr;
  pthread_t pthread_{};

 private:
  void Join() {
    std::lock_guard lock(join_mutex_);
    if (joined_ || detached_) return;
    // A thread that waits for itself would never return; it only learns that
    // it has finished.
    if (pthread_equal(pthread_, pthread_self())) return;
    pthread_join(pthread_, nullptr);
    joined_ = true;
  }

  std::mutex mutex_;
  std::condition_variable started_cv_;
  std::condition_variable done_cv_;
  DWORD id_ = 0;
  bool resumed_ = false;
  bool done_ = false;
  bool abandoned_ = false;
  DWORD exit_code_ = STILL_ACTIVE;
  std::mutex join_mutex_;  // guards joined_ and detached_
  bool joined_ = false;
  bool detached_ = false;
};

// A recursive mutex with a bounded wait, held by one thread at a time; a named
// one also holds a file lock while this process owns it.  Built from a mutex
// and a condition variable rather than std::recursive_timed_mutex: the timed
// lock of the latter goes through pthread_mutex_clocklock, which the thread
// sanitizer does not see, so every later unlock was reported as a misuse.
class Mutex final : public KernelObject {
 public:
  explicit Mutex(int lock_fd) : lock_fd_(lock_fd) {}
  ~Mutex() override {
    if (lock_fd_ >= 0) close(lock_fd_);
  }

  DWORD Wait(DWORD milliseconds) override {
    const bool infinite = milliseconds == INFINITE;
    const auto deadline = Clock::now() + std::chrono::milliseconds(infinite ? 0 : milliseconds);
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock lock(state_);
    if (depth_ > 0 && owner_ == self) {
      ++depth_;
      return WAIT_OBJECT_0;
    }
    const auto free = [this] { return depth_ == 0; };
    if (infinite) {
      released_.wait(lock, free);
    } else if (!released_.wait_until(lock, deadline, free)) {
      return WAIT_TIMEOUT;
    }
    owner_ = self;
    depth_ = 1;
    if (lock_fd_ < 0) return WAIT_OBJECT_0;
    // First acquisition by this process: take the file lock as well, polling
    // so that the wait stays bounded.  The other threads of the process wait
    // for this one meanwhile.
    lock.unlock();
    DWORD result = WAIT_FAILED;
    for (;;) {
      if (flock(lock_fd_, LOCK_EX | LOCK_NB) == 0) return WAIT_OBJECT_0;
      if (errno != EWOULDBLOCK && errno != EINTR) break;
      if (!infinite && Clock::now() >= deadline) {
        result = WAIT_TIMEOUT;
        break;
      }
      usleep(500);
    }
    lock.lock();
    depth_ = 0;
    lock.unlock();
    released_.notify_one();
    if (result == WAIT_FAILED) SetLastError(ERROR_INVALID_HANDLE);
    return result;
  }

  // False unless the calling thread owns the mutex.
  bool Release() {
    {
      std::lock_guard lock(state_);
      if (depth_ == 0 || owner_ != std::this_thread::get_id()) return false;
      if (--depth_ > 0) return true;
      if (lock_fd_ >= 0) flock(lock_fd_, LOCK_UN);
    }
    released_.notify_one();
    return true;
  }

 private:
  std::mutex state_;
  std::condition_variable released_;
  std::thread::id owner_;  // guarded by state_, meaningful while depth_ > 0
  int depth_ = 0;          // guarded by state_
  const int lock_fd_;
};

std::string LockFileName(const char* name) {
  std::string file;
  for (const char* p = name; *p != '\0'; ++p) {
    const char c = *p;
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                       (c >= '0' && c <= '9') || c == '_' || c == '-' || c == '.';
    file += plain ? c : '_';
  }
  return file + ".lock";
}

}  // namespace

DWORD GetLastError() { return t_last_error; }
void SetLastError(DWORD error) { t_last_error = error; }

DWORD GetTickCount() {
  const auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
      Clock::now().time_since_epoch());
  return static_cast<DWORD>(static_cast<uint64_t>(now.count()));
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  timespec ts{static_cast<time_t>(milliseconds / 1000),
              static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

namespace {

// The thread's id, asked of the kernel once per thread: the request path takes
// it for every request.  A forked child starts with its own id, so the fork
// handler clears the copy the child's thread inherited.
thread_local DWORD t_thread_id = 0;

void ForgetThreadIdInChild() { t_thread_id = 0; }

const int kForkHandlerInstalled = pthread_atfork(nullptr, nullptr, &ForgetThreadIdInChild);

}  // namespace

DWORD GetCurrentThreadId() {
  static_cast<void>(kForkHandlerInstalled);
  if (t_thread_id == 0) t_thread_id = static_cast<DWORD>(syscall(SYS_gettid));
  return t_thread_id;
}
DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

HANDLE CreateEventA(LPVOID /*attributes*/, BOOL manual_reset, BOOL initial_state, LPCSTR name) {
  if (name != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto event = std::make_shared<Event>(manual_reset != FALSE, fd);
  if (initial_state) event->Set();
  HANDLE handle = MakeHandle(std::move(event));
  static_cast<HandleBox*>(handle)->descriptor = fd;
  return handle;
}

BOOL SetEvent(HANDLE handle) {
  Event* event = Lookup<Event>(handle);
  if (event == nullptr) return FALSE;
  event->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
  Event* event = Lookup<Event>(handle);
  if (event == nullptr) return FALSE;
  event->Reset();
  return TRUE;
}

int GetEventDescriptor(HANDLE handle) {
  auto* box = static_cast<HandleBox*>(handle);
  if (box == nullptr || box->magic != HandleBox::kMagic) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  if (box->descriptor < 0) SetLastError(ERROR_INVALID_HANDLE);
  return box->descriptor;
}

HANDLE CreateThread(LPVOID /*attributes*/, size_t stack_size, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, DWORD* thread_id) {
  if (start == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto thread = std::make_shared<Thread>();
  thread->start_ = start;
  thread->parameter_ = parameter;

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  if (stack_size != 0) {
    const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
    pthread_attr_setstacksize(&attr, stack_size < minimum ? minimum : stack_size);
  }
  auto* handoff = new std::shared_ptr<Thread>(thread);
  const int rc = pthread_create(&thread->pthread_, &attr, &Thread::Run, handoff);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete handoff;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  thread->WaitForId();
  if ((flags & CREATE_SUSPENDED) == 0) thread->Resume();
  if (thread_id != nullptr) *thread_id = thread->Id();
  return MakeHandle(std::move(thread));
}

DWORD ResumeThread(HANDLE handle) {
  Thread* thread = Lookup<Thread>(handle);
  return thread == nullptr ? static_cast<DWORD>(-1) : thread->Resume();
}

BOOL GetExitCodeThread(HANDLE handle, DWORD* exit_code) {
  Thread* thread = Lookup<Thread>(handle);
  if (thread == nullptr || exit_code == nullptr) return FALSE;
  *exit_code = thread->ExitCode();
  return TRUE;
}

DWORD GetThreadId(HANDLE handle) {
  Thread* thread = Lookup<Thread>(handle);
  return thread == nullptr ? 0 : thread->Id();
}

BOOL SetThreadName(HANDLE handle, LPCSTR name) {
  Thread* thread = Lookup<Thread>(handle);
  if (thread == nullptr || name == nullptr) return FALSE;
  char shortened[16] = {};
  for (size_t i = 0; i < 15 && name[i] != '\0'; ++i) shortened[i] = name[i];
  return pthread_setname_np(thread->pthread_, shortened) == 0 ? TRUE : FALSE;
}

BOOL TerminateThread(HANDLE handle, DWORD exit_code) {
  Thread* thread = Lookup<Thread>(handle);
  if (thread == nullptr) return FALSE;
  thread->Resume();  // a suspended thread would otherwise wait forever
  thread->Finish(exit_code, true);
  return TRUE;
}

HANDLE CreateMutexA(LPVOID /*attributes*/, BOOL initial_owner, LPCSTR name) {
  int fd = -1;
  if (name != nullptr && *name != '\0') {
    const std::string dir = platform::RuntimeDirectory() + "/locks";
    if (!platform::MakeDirectories(dir)) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return nullptr;
    }
    const std::string path = dir + "/" + LockFileName(name);
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
      SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
      return nullptr;
    }
  }
  auto mutex = std::make_shared<Mutex>(fd);
  if (initial_owner) mutex->Wait(INFINITE);
  return MakeHandle(std::move(mutex));
}

BOOL ReleaseMutex(HANDLE handle) {
  Mutex* mutex = Lookup<Mutex>(handle);
  if (mutex == nullptr) return FALSE;
  if (!mutex->Release()) {
    SetLastError(288);  // ERROR_NOT_OWNER
    return FALSE;
  }
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto* box = static_cast<HandleBox*>(handle);
  if (box == nullptr || box->magic != HandleBox::kMagic) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  return box->wait(box, milliseconds);
}

BOOL CloseHandle(HANDLE handle) {
  auto* box = static_cast<HandleBox*>(handle);
  if (box == nullptr || box->magic != HandleBox::kMagic) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  box->magic = 0;
  delete box;
  return TRUE;
}

void InitializeCriticalSection(CRITICAL_SECTION* /*section*/) {}
void DeleteCriticalSection(CRITICAL_SECTION* /*section*/) {}
void EnterCriticalSection(CRITICAL_SECTION* section) { section->mutex.lock(); }
BOOL TryEnterCriticalSection(CRITICAL_SECTION* section) {
  return section->mutex.try_lock() ? TRUE : FALSE;
}
void LeaveCriticalSection(CRITICAL_SECTION* section) { section->mutex.unlock(); }
