#include "pack_threads.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

namespace QorPackThreads {

struct Mutex::Impl {
  std::mutex mutex;
};
Mutex::Mutex() : impl_(new Impl) {}
Mutex::~Mutex() = default;
void Mutex::Lock() {
  impl_->mutex.lock();
}
void Mutex::Unlock() {
  impl_->mutex.unlock();
}

struct Semaphore::Impl {
  std::mutex mutex;
  std::condition_variable posted;
  unsigned long count = 0;
};
Semaphore::Semaphore() {
  if (Detail::SimulatedFailure()) {
    throw std::bad_alloc();
  }
  impl_.reset(new Impl);
}
Semaphore::~Semaphore() = default;
void Semaphore::Post() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  ++impl_->count;
  impl_->posted.notify_one();
}
void Semaphore::Wait() {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  impl_->posted.wait(lock, [this] { return impl_->count > 0; });
  --impl_->count;
}

struct Event::Impl {
  std::mutex mutex;
  std::condition_variable changed;
  bool set = false;
};
Event::Event() {
  if (Detail::SimulatedFailure()) {
    throw std::bad_alloc();
  }
  impl_.reset(new Impl);
}
Event::~Event() = default;
void Event::Set() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->set = true;
  impl_->changed.notify_all();
}
void Event::Reset() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->set = false;
}
void Event::Wait() {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  impl_->changed.wait(lock, [this] { return impl_->set; });
}

struct Thread::Impl {
  std::thread thread;
};
Thread::Thread(std::function<void()> body) : impl_(new Impl) {
  if (Detail::SimulatedFailure()) {
    throw std::bad_alloc();
  }
  impl_->thread = std::thread(std::move(body));
}
Thread::~Thread() {
  impl_->thread.join();
}

unsigned CountProcessors() {
  const unsigned count = std::thread::hardware_concurrency();
  return count ? count : 1;
}

} // namespace QorPackThreads
