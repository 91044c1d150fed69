#include "pack_threads.h"

#include "qor/handle/critical_section.h"
#include "qor/handle/unique_handle.h"

#include <windows.h>
#include <process.h>

#include <climits>
#include <cstdint>
#include <new>

namespace QorPackThreads {

struct Mutex::Impl {
  Qor::CriticalSection section;
};
Mutex::Mutex() : impl_(new Impl) {}
Mutex::~Mutex() = default;
void Mutex::Lock() {
  impl_->section.Enter();
}
void Mutex::Unlock() {
  impl_->section.Leave();
}

struct Semaphore::Impl {
  Qor::UniqueHandle handle;
};
Semaphore::Semaphore() : impl_(new Impl) {
  if (Detail::SimulatedFailure()) {
    throw std::bad_alloc();
  }
  impl_->handle.reset(CreateSemaphoreW(nullptr, 0, LONG_MAX, nullptr));
  if (!impl_->handle) {
    throw std::bad_alloc();
  }
}
Semaphore::~Semaphore() = default;
void Semaphore::Post() {
  ReleaseSemaphore(impl_->handle.get(), 1, nullptr);
}
void Semaphore::Wait() {
  WaitForSingleObject(impl_->handle.get(), INFINITE);
}

struct Event::Impl {
  Qor::UniqueHandle handle;
};
Event::Event() : impl_(new Impl) {
  if (Detail::SimulatedFailure()) {
    throw std::bad_alloc();
  }
  impl_->handle.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!impl_->handle) {
    throw std::bad_alloc();
  }
}
Event::~Event() = default;
void Event::Set() {
  SetEvent(impl_->handle.get());
}
void Event::Reset() {
  ResetEvent(impl_->handle.get());
}
void Event::Wait() {
  WaitForSingleObject(impl_->handle.get(), INFINITE);
}

namespace {
unsigned __stdcall RunBody(void* parameter) {
  std::function<void()>* body = static_cast<std::function<void()>*>(parameter);
  (*body)();
  return 0;
}
} // namespace

struct Thread::Impl {
  std::function<void()> body;
  Qor::UniqueHandle handle;
};
Thread::Thread(std::function<void()> body) : impl_(new Impl) {
  if (Detail::SimulatedFailure()) {
    throw std::bad_alloc();
  }
  impl_->body = std::move(body);
  // The C runtime's own start, so that its per-thread data is set up.
  const std::uintptr_t started = _beginthreadex(nullptr, 0, &RunBody, &impl_->body, 0, nullptr);
  if (started == 0) {
    throw std::bad_alloc();
  }
  impl_->handle.reset(reinterpret_cast<HANDLE>(started));
}
Thread::~Thread() {
  WaitForSingleObject(impl_->handle.get(), INFINITE);
}

// The processors of the process's affinity, which a job or a start with
// "start /affinity" may narrow; all of the system's when that is unknown.
unsigned CountProcessors() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  unsigned count = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
    for (; process != 0; process &= process - 1) {
      ++count;
    }
  }
  if (count == 0) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    count = info.dwNumberOfProcessors;
  }
  return count ? count : 1;
}

} // namespace QorPackThreads
