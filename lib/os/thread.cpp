#include "qor/os/thread.h"
#include "qor/os/error_codes.h"

#include "qor/error/error.h"
#include "qor/error/win32_error.h"

namespace QorOs {

Thread::Thread(DWORD threadId, DWORD stackSize) {
  if (threadId != 0) {
    id_ = threadId;
    handle_.reset(OpenThread(THREAD_ALL_ACCESS, FALSE, threadId));
    if (!handle_) {
      QorWin32::RaiseWin32Error(kOpenThreadError, L"Invalid thread.", GetLastError());
    }
    return;
  }
  state_ = kNotStarted;
  handle_.reset(CreateThread(nullptr, stackSize, StartRoutine, this, CREATE_SUSPENDED, &id_));
  if (!handle_) {
    QorWin32::RaiseWin32Error(kCreateThreadError, L"Unable to create a thread.", GetLastError());
  }
}

Thread::~Thread() {
  handle_.reset();
  id_ = 0;
}

DWORD Thread::Run() {
  return 0;
}

DWORD WINAPI Thread::StartRoutine(void* self) {
  auto* thread = static_cast<Thread*>(self);
  if (InterlockedCompareExchange(&thread->state_, kStarted, kNotStarted) == kCancelled) {
    return thread->cancelExitCode_;
  }
  try {
    return thread->Run();
  } catch (QorError::Exception* error) {
    DWORD code = static_cast<DWORD>(error->GetCode());
    delete error;
    return code;
  } catch (...) {
    return 10;
  }
}

DWORD Thread::Resume() {
  DWORD previous = ResumeThread(handle_.get());
  if (previous == static_cast<DWORD>(-1)) {
    QorWin32::RaiseWin32Error(kResumeThreadError, L"Can't resume a thread.", GetLastError());
  }
  return previous;
}

DWORD Thread::Suspend() {
  DWORD previous = SuspendThread(handle_.get());
  if (previous == static_cast<DWORD>(-1)) {
    QorWin32::RaiseWin32Error(kSuspendThreadError, L"Can't suspend a thread.", GetLastError());
  }
  return previous;
}

bool Thread::Wait(DWORD timeoutMs) {
  return WaitForSingleObject(handle_.get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD Thread::Join() {
  return WaitForSingleObject(handle_.get(), INFINITE);
}

void Thread::Terminate(DWORD exitCode) {
  if (!handle_) {
    return;
  }
  cancelExitCode_ = exitCode;
  if (InterlockedCompareExchange(&state_, kCancelled, kNotStarted) != kNotStarted) {
    TerminateThread(handle_.get(), exitCode);
    return;
  }
  // Killing a thread that has not even started can leave the process in a
  // broken state (Wine crashes it outright); one that has not reached Run
  // holds nothing yet, so it is released to return the code by itself. The
  // wait keeps this object alive until the thread has read the code.
  DWORD previous = 0;
  do {
    previous = ResumeThread(handle_.get());
  } while (previous != static_cast<DWORD>(-1) && previous > 1);
  WaitForSingleObject(handle_.get(), INFINITE);
}

HANDLE Thread::DuplicateCurrentThreadHandle() {
  HANDLE handle = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &handle, 0,
                       FALSE, DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return handle;
}

} // namespace QorOs
