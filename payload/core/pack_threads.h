// The few thread primitives the block-parallel encoder and decoder need,
// over the standard library natively and over Win32 calls that Windows XP
// has (the MinGW win32 thread model has no std::thread).
#pragma once

#include "qor/payload_core/processors.h"

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace QorPackThreads {

// For tests: of the events, semaphores and threads created from now on,
// those numbered [first, first + count) (0 the next one) fail as when the
// system has none left. Set while no other thread creates any.
void SimulateCreationFailures(unsigned first, unsigned count);

namespace Detail {
inline std::atomic<unsigned> simulatedSkip{0};
inline std::atomic<unsigned> simulatedFailures{0};
// Whether the creation that is about to happen is to fail.
inline bool SimulatedFailure() {
  if (simulatedFailures.load(std::memory_order_relaxed) == 0) {
    return false;
  }
  if (simulatedSkip.load() > 0) {
    --simulatedSkip;
    return false;
  }
  --simulatedFailures;
  return true;
}
} // namespace Detail

inline void SimulateCreationFailures(unsigned first, unsigned count) {
  Detail::simulatedSkip = first;
  Detail::simulatedFailures = count;
}

class Mutex {
public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void Lock();
  void Unlock();

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class MutexLock {
public:
  explicit MutexLock(Mutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() { mutex_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

private:
  Mutex& mutex_;
};

// Lets go of a held mutex for its lifetime, to wait without it.
class MutexUnlock {
public:
  explicit MutexUnlock(Mutex& mutex) : mutex_(mutex) { mutex_.Unlock(); }
  ~MutexUnlock() { mutex_.Lock(); }
  MutexUnlock(const MutexUnlock&) = delete;
  MutexUnlock& operator=(const MutexUnlock&) = delete;

private:
  Mutex& mutex_;
};

// A counting semaphore, starting at zero. Throws std::bad_alloc when the
// system cannot make one.
class Semaphore {
public:
  Semaphore();
  ~Semaphore();
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;
  void Post();
  void Wait();

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// An event that stays set until it is reset (no lost wake-ups when it is
// reset under a lock and set under the same lock). Throws std::bad_alloc
// when the system cannot make one.
class Event {
public:
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  void Set();
  void Reset();
  void Wait();

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Runs body on a new thread; the destructor waits for it to end. body must
// not throw. Throws std::bad_alloc when the system cannot start one.
class Thread {
public:
  explicit Thread(std::function<void()> body);
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Threads that all run the same body; the destructor waits for them. A
// thread the system cannot start only makes the group smaller: the callers
// do the work on the calling thread when none started.
class ThreadGroup {
public:
  ThreadGroup() = default;
  ~ThreadGroup() { Join(); }
  ThreadGroup(const ThreadGroup&) = delete;
  ThreadGroup& operator=(const ThreadGroup&) = delete;

  // Starts up to count threads running body (which must not throw).
  void Start(unsigned count, const std::function<void()>& body) {
    threads_.reserve(threads_.size() + count);
    for (unsigned i = 0; i < count; ++i) {
      std::unique_ptr<Thread> thread;
      try {
        thread.reset(new Thread(body));
      } catch (...) {
        return;
      }
      threads_.push_back(std::move(thread));
    }
  }
  std::size_t size() const { return threads_.size(); }
  bool empty() const { return threads_.empty(); }
  // Waits for every thread to end.
  void Join() { threads_.clear(); }

private:
  std::vector<std::unique_ptr<Thread>> threads_;
};

} // namespace QorPackThreads
