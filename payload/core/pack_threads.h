// The few thread primitives the block-parallel compressor needs, over the
// standard library natively and over Win32 calls that Windows XP has (the
// MinGW win32 thread model has no std::thread).
#pragma once

#include <functional>
#include <memory>

namespace QorPackThreads {

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

// A counting semaphore, starting at zero.
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

// Runs body on a new thread; the destructor waits for it to end. body must
// not throw.
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

unsigned CountProcessors();

} // namespace QorPackThreads
